# One INTERFACE target carries the project's build settings; every target of
# ours links it, third-party code does not.
add_library(zorvik_settings INTERFACE)
add_library(Zorvik::settings ALIAS zorvik_settings)
target_compile_features(zorvik_settings INTERFACE cxx_std_20)
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
  add_compile_options(-fsanitize=${ZORVIK_SANITIZE} -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=${ZORVIK_SANITIZE})
  if(ZORVIK_SANITIZE MATCHES "undefined")
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()

# Helper: one executable per test source, registered with CTest.
function(zorvik_add_gtest source)
  get_filename_component(name ${source} NAME_WE)
  add_executable(${name} ${source} ${ARGN})
  target_link_libraries(${name} PRIVATE zorvik_settings GTest::gtest GTest::gtest_main)
  add_test(NAME ${name} COMMAND ${name})
endfunction()
