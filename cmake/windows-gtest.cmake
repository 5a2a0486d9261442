# GoogleTest for a cross build: Debian ships its sources in /usr/src/googletest
# (package googletest); they are built here with the target toolchain, and the
# GTest::gtest / GTest::gtest_main targets that find_package would give are
# defined from them.
set(ZORVIK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources built for the target")
if(NOT TARGET GTest::gtest)
  if(NOT EXISTS ${ZORVIK_GTEST_SOURCE_DIR}/CMakeLists.txt)
    message(FATAL_ERROR "GoogleTest sources not found in ${ZORVIK_GTEST_SOURCE_DIR} "
                        "(install Debian's googletest package)")
  endif()
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(gtest_disable_pthreads OFF CACHE BOOL "" FORCE)
  add_subdirectory(${ZORVIK_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  # GoogleTest 1.11 and later define the namespaced aliases themselves.
  foreach(lib gtest gtest_main gmock gmock_main)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
  set(GTest_FOUND TRUE)
  set(GTEST_FOUND TRUE)
endif()
