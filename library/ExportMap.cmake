# Writes a linker version script that exports exactly the ZORVIK_API names of
# ZorvikDll.h, so that no vague-linkage symbol of the C++ runtime (typeinfo,
# template instances) can leak from the shared library.
function(zorvik_write_export_map header out)
  file(STRINGS "${header}" declarations REGEX "^ZORVIK_API[ \t]")
  set(names "")
  foreach(line IN LISTS declarations)
    if(line MATCHES "([A-Za-z_][A-Za-z0-9_]*)[ \t]*\\(")
      string(APPEND names "    ${CMAKE_MATCH_1};\n")
    endif()
  endforeach()
  file(CONFIGURE OUTPUT "${out}" CONTENT "{\n  global:\n${names}  local: *;\n};\n" @ONLY)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${header}")
endfunction()
