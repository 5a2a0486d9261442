# The shared library exports exactly the functions that ZorvikDll.h declares:
# every ZORVIK_API name, nothing else, nothing C++-mangled.
# Run as: cmake -DZORVIK_EXPORTS_LIBRARY=<lib> -DZORVIK_EXPORTS_HEADER=<ZorvikDll.h>
#              -DZORVIK_NM=<nm> -P check_exports.cmake

cmake_minimum_required(VERSION 3.20)

# The declared names: "ZORVIK_API <type> <name>(" at the start of a line.
file(STRINGS "${ZORVIK_EXPORTS_HEADER}" declarations REGEX "^ZORVIK_API[ \t]")
set(declared "")
foreach(line IN LISTS declarations)
  if(line MATCHES "([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\(")
    list(APPEND declared "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(REMOVE_DUPLICATES declared)
list(LENGTH declared declared_count)
if(declared_count EQUAL 0)
  message(FATAL_ERROR "no ZORVIK_API declarations found in ${ZORVIK_EXPORTS_HEADER}")
endif()

execute_process(COMMAND "${ZORVIK_NM}" -D --defined-only "${ZORVIK_EXPORTS_LIBRARY}"
                OUTPUT_VARIABLE nm_output RESULT_VARIABLE nm_result ERROR_VARIABLE nm_error)
if(NOT nm_result EQUAL 0)
  message(FATAL_ERROR "nm failed on ${ZORVIK_EXPORTS_LIBRARY}: ${nm_error}")
endif()

# Linker-made symbols that every shared object carries.
set(ignored _init _fini __bss_start _edata _end)
string(REPLACE "\n" ";" nm_lines "${nm_output}")
set(exported "")
foreach(line IN LISTS nm_lines)
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] ([^ ]+)$")
    set(symbol "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "@.*$" "" symbol "${symbol}")
    if(NOT symbol IN_LIST ignored)
      list(APPEND exported "${symbol}")
    endif()
  endif()
endforeach()

set(missing "")
foreach(name IN LISTS declared)
  if(NOT name IN_LIST exported)
    list(APPEND missing "${name}")
  endif()
endforeach()
set(extra "")
foreach(name IN LISTS exported)
  if(NOT name IN_LIST declared)
    list(APPEND extra "${name}")
  endif()
endforeach()

if(missing OR extra)
  list(JOIN missing " " missing_text)
  list(JOIN extra " " extra_text)
  message(FATAL_ERROR "exports differ from ZorvikDll.h\n  missing: ${missing_text}\n  not declared: ${extra_text}")
endif()
list(LENGTH exported exported_count)
message(STATUS "${exported_count} exports, all declared in ZorvikDll.h")
