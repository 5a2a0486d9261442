# One INTERFACE target carries the project's build settings (warnings,
# sanitizers, fuzzing coverage); every target of ours links it, third-party
# code does not. The language standard is set once, in the top-level file.
add_library(zorvik_settings INTERFACE)
add_library(Zorvik::settings ALIAS zorvik_settings)
# The version the programs show is the project's, defined here only.
target_compile_definitions(zorvik_settings INTERFACE ZORVIK_VERSION="${PROJECT_VERSION}")
# Our Windows code wants the lean <windows.h>, without the min/max macros.
if(WIN32)
  target_compile_definitions(zorvik_settings INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX)
endif()
# Which C++ runtime a MinGW program carries. Qt's DLLs use the shared MinGW
# runtime (libstdc++-6, libgcc_s_seh-1, libwinpthread-1), and a program that
# links Qt passes C++ objects, allocations and exceptions to it, so it must
# use those same DLLs: the program and its Qt tests link them. A program
# without Qt links this target and carries the runtime in itself, so that it
# needs no MinGW DLLs beside it. ZorvikDll.dll's exports are plain C; it
# keeps its own hidden static copy (the toolchain's shared-library flags).
add_library(zorvik_static_runtime INTERFACE)
if(MINGW)
  target_link_options(zorvik_static_runtime INTERFACE -static)
endif()
if(MSVC)
  target_compile_options(zorvik_settings INTERFACE /W4)
  if(ZORVIK_WERROR)
    target_compile_options(zorvik_settings INTERFACE /WX)
  endif()
else()
  target_compile_options(zorvik_settings INTERFACE -Wall -Wextra -Wpedantic -Wshadow)
  # g++ 12 reports a false -Wrestrict inside std::string concatenation at -O3
  # (the standard library's own memcpy); it says nothing about our code.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
     AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(zorvik_settings INTERFACE -Wno-restrict)
  endif()
  if(ZORVIK_WERROR)
    target_compile_options(zorvik_settings INTERFACE -Werror)
  endif()
endif()

# Sanitizers are chosen by preset through ZORVIK_SANITIZE ("address,undefined" or "thread").
set(ZORVIK_SANITIZE "" CACHE STRING "Sanitizers to build with (address,undefined | thread)")
if(ZORVIK_SANITIZE)
  target_compile_options(zorvik_settings INTERFACE -fsanitize=${ZORVIK_SANITIZE} -fno-omit-frame-pointer -g)
  target_link_options(zorvik_settings INTERFACE -fsanitize=${ZORVIK_SANITIZE})
  if(ZORVIK_SANITIZE MATCHES "undefined")
    target_compile_options(zorvik_settings INTERFACE -fno-sanitize-recover=undefined)
  endif()
endif()
# The fuzz targets steer by coverage of the code under test, so all of our
# code carries the coverage instrumentation (libFuzzer's main only the targets link).
if(ZORVIK_BUILD_FUZZ)
  target_compile_options(zorvik_settings INTERFACE -fsanitize=fuzzer-no-link)
endif()

# The real receiver logs, with their reference decodes: read by the tests and the benchmarks.
get_filename_component(zorvik_default_log_dir "${PROJECT_SOURCE_DIR}/../shared/nmea-logs" ABSOLUTE)
set(ZORVIK_NMEA_LOG_DIR "${zorvik_default_log_dir}" CACHE PATH "Real receiver logs with reference decodes")

# Registers a test program with CTest:
#   zorvik_add_test(NAME n SOURCES a.cpp ... [LIBS l ...] [LABELS l ...]
#                   [TIMEOUT s] [ENVIRONMENT e ...] [QT] [NEEDS_SIM])
# GoogleTest programs by default; QT makes a Qt Test program (its own main,
# moc, the offscreen platform). NEEDS_SIM passes the receiver simulator, the
# local A-GPS server and the system Python to the program and builds the
# simulator first.
function(zorvik_add_test)
  cmake_parse_arguments(PARSE_ARGV 0 arg "QT;NEEDS_SIM" "NAME;TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT")
  add_executable(${arg_NAME} ${arg_SOURCES})
  target_link_libraries(${arg_NAME} PRIVATE ${arg_LIBS} zorvik_settings)
  if(arg_QT)
    set_target_properties(${arg_NAME} PROPERTIES AUTOMOC ON)
    target_link_libraries(${arg_NAME} PRIVATE Qt6::Test)
    list(APPEND arg_ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    target_link_libraries(${arg_NAME} PRIVATE GTest::gtest GTest::gtest_main zorvik_static_runtime)
  endif()
  if(arg_NEEDS_SIM)
    target_include_directories(${arg_NAME} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support)
    target_compile_definitions(${arg_NAME} PRIVATE
      ZORVIK_RECEIVER_SIM="$<TARGET_FILE:receiver-sim>"
      ZORVIK_AGPS_SERVER="${PROJECT_SOURCE_DIR}/tools/agps-server/agps_server.py"
      ZORVIK_SYSTEM_PYTHON="${ZORVIK_SYSTEM_PYTHON}")
    add_dependencies(${arg_NAME} receiver-sim)
  endif()
  if(NOT arg_TIMEOUT)
    set(arg_TIMEOUT 300)
  endif()
  add_test(NAME ${arg_NAME} COMMAND ${arg_NAME})
  set_tests_properties(${arg_NAME} PROPERTIES LABELS "${arg_LABELS}" TIMEOUT ${arg_TIMEOUT})
  if(arg_ENVIRONMENT)
    set_tests_properties(${arg_NAME} PROPERTIES ENVIRONMENT "${arg_ENVIRONMENT}")
  endif()
endfunction()
