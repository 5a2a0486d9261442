# Cross-compiles for 64-bit Windows with Debian's MinGW-w64 toolchain
# (packages g++-mingw-w64-x86-64-posix and binutils-mingw-w64-x86-64).
# The posix thread model gives std::thread and std::mutex through winpthreads.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZORVIK_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZORVIK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZORVIK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZORVIK_MINGW_PREFIX}-windres)
set(CMAKE_AR ${ZORVIK_MINGW_PREFIX}-gcc-ar-posix CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${ZORVIK_MINGW_PREFIX}-gcc-ranlib-posix CACHE FILEPATH "Ranlib")
set(CMAKE_OBJDUMP ${ZORVIK_MINGW_PREFIX}-objdump CACHE FILEPATH "Objdump")

set(CMAKE_FIND_ROOT_PATH /usr/${ZORVIK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# ZorvikDll.dll links the GCC runtime, the C++ library and winpthreads in
# statically (-static prefers the static archives; the Windows system
# libraries stay import libraries), so that it needs no MinGW DLLs beside it.
# Nothing of those archives is exported from it. Which runtime a program
# carries is the project's choice (zorvik_static_runtime, ZorvikSettings.cmake).
string(APPEND CMAKE_SHARED_LINKER_FLAGS_INIT " -static -Wl,--exclude-libs,ALL")
string(APPEND CMAKE_MODULE_LINKER_FLAGS_INIT " -static -Wl,--exclude-libs,ALL")

# Cross-compiled test programs run under Wine.
find_program(ZORVIK_WINE NAMES wine64 wine PATHS /usr/lib/wine)
if(ZORVIK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZORVIK_WINE})
endif()
