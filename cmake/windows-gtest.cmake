# GoogleTest for Windows builds. A cross build compiles Debian's sources
# (/usr/src/googletest, package googletest) with the target toolchain and
# defines the GTest::gtest / GTest::gtest_main targets that find_package would
# give; a native build uses an installed GoogleTest when there is one, else
# the sources in ZORVIK_GTEST_SOURCE_DIR.
set(ZORVIK_GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources built for the target")
# A native Windows build takes an installed GoogleTest (vcpkg, Conan) first.
if(NOT TARGET GTest::gtest AND NOT CMAKE_CROSSCOMPILING)
  find_package(GTest CONFIG QUIET)
endif()
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
