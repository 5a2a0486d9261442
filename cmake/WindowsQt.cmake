# Where a Windows build of the program finds Qt 6.
#
# ZORVIK_QT_WINDOWS names a Qt 6 for Windows: the folder that holds
# lib/cmake/Qt6 (an official kit such as C:/Qt/6.5.3/mingw_64, or an extracted
# tree). A cross build that is not given one takes the MinGW Qt kept beside the
# clone (../shared/qt6-mingw), extracted once into the build tree. A native
# build may instead name its kit through CMAKE_PREFIX_PATH as usual.
set(ZORVIK_QT_WINDOWS "" CACHE PATH "Qt 6 for Windows: the folder holding lib/cmake/Qt6")
set(ZORVIK_QT_WINDOWS_ARCHIVE
    "${PROJECT_SOURCE_DIR}/../shared/qt6-mingw/qt6-mingw-6.4.2-x86_64.tar.xz" CACHE FILEPATH
    "Qt 6 for MinGW, extracted into the build tree when ZORVIK_QT_WINDOWS is not given")

set(zorvik_qt_windows "${ZORVIK_QT_WINDOWS}")
if(NOT zorvik_qt_windows AND CMAKE_CROSSCOMPILING AND EXISTS "${ZORVIK_QT_WINDOWS_ARCHIVE}")
  set(extracted "${PROJECT_BINARY_DIR}/qt6-mingw")
  # The archive holds one top folder, named like the archive without .tar.xz.
  get_filename_component(top "${ZORVIK_QT_WINDOWS_ARCHIVE}" NAME)
  string(REGEX REPLACE "-x86_64\\.tar\\.xz$" "" top "${top}")
  set(zorvik_qt_windows "${extracted}/${top}")
  if(NOT EXISTS "${zorvik_qt_windows}/lib/cmake/Qt6/Qt6Config.cmake")
    message(STATUS "Extracting ${ZORVIK_QT_WINDOWS_ARCHIVE} into ${extracted}")
    file(REMOVE_RECURSE "${extracted}")
    file(ARCHIVE_EXTRACT INPUT "${ZORVIK_QT_WINDOWS_ARCHIVE}" DESTINATION "${extracted}")
  endif()
endif()

if(zorvik_qt_windows)
  if(NOT EXISTS "${zorvik_qt_windows}/lib/cmake/Qt6/Qt6Config.cmake")
    message(FATAL_ERROR "No Qt 6 in ${zorvik_qt_windows} (lib/cmake/Qt6/Qt6Config.cmake is missing)")
  endif()
  list(APPEND CMAKE_PREFIX_PATH "${zorvik_qt_windows}")
  # The cross toolchain searches for packages only below its roots.
  list(APPEND CMAKE_FIND_ROOT_PATH "${zorvik_qt_windows}")
endif()

# A cross build runs the build machine's moc, rcc and uic (Debian's
# qt6-base-dev-tools, the same Qt version).
if(CMAKE_CROSSCOMPILING AND NOT QT_HOST_PATH)
  file(GLOB host_tools_dirs LIST_DIRECTORIES true /usr/lib/*/cmake/Qt6CoreTools)
  if(NOT host_tools_dirs)
    message(FATAL_ERROR "No Qt 6 tools for the build machine: install qt6-base-dev-tools "
                        "(scripts/packages-windows.txt) or set QT_HOST_PATH")
  endif()
  list(GET host_tools_dirs 0 host_tools_dir)
  get_filename_component(host_cmake_dir "${host_tools_dir}" DIRECTORY)
  set(QT_HOST_PATH /usr CACHE PATH "Qt 6 of the build machine (moc, rcc, uic)")
  set(QT_HOST_PATH_CMAKE_DIR "${host_cmake_dir}" CACHE PATH "CMake packages of QT_HOST_PATH")
endif()

# The MinGW runtime the Qt DLLs and the program share, and where the compiler
# that builds the program (the one Qt was built with) keeps each DLL.
set(ZORVIK_MINGW_RUNTIME_DLLS libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
function(zorvik_find_mingw_runtime_dll dll out)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
                  OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${found}")
    string(MAKE_C_IDENTIFIER "zorvik_runtime_${dll}" var)
    find_file(${var} ${dll} PATH_SUFFIXES lib bin)
    set(found "${${var}}")
  endif()
  if(NOT EXISTS "${found}")
    message(FATAL_ERROR "The MinGW runtime DLL ${dll} was not found beside ${CMAKE_CXX_COMPILER}")
  endif()
  get_filename_component(found "${found}" REALPATH)
  set(${out} "${found}" PARENT_SCOPE)
endfunction()
