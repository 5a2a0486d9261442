# What a Windows user installs. The runtime component is one folder: the
# program, ZorvikDll.dll, the Qt DLLs and the platform and style plugins the
# program loads, the MinGW runtime DLLs that Qt and the program share, and the
# licences. The target windows-installer installs that component into
# <build>/deploy/Zorvik-<version>-win64 and packs it with makensis into
# <build>/Zorvik-<version>-win64-setup.exe (packaging/windows/).
set(zorvik_windows_dir ${PROJECT_SOURCE_DIR}/packaging/windows)
# Qt's imported targets are seen only where they were found.
find_package(Qt6 REQUIRED COMPONENTS Widgets)

foreach(module Core Gui Widgets)
  install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION . COMPONENT runtime)
endforeach()
install(FILES $<TARGET_FILE:Qt6::QWindowsIntegrationPlugin> DESTINATION platforms COMPONENT runtime)
install(FILES $<TARGET_FILE:Qt6::QWindowsVistaStylePlugin> DESTINATION styles COMPONENT runtime)

# The MinGW runtime the Qt DLLs were linked with, taken from the compiler
# that builds the program (the same one Qt was built with).
if(MINGW)
  foreach(dll ${ZORVIK_MINGW_RUNTIME_DLLS})
    zorvik_find_mingw_runtime_dll(${dll} found)
    install(FILES "${found}" DESTINATION . COMPONENT runtime)
  endforeach()
endif()

configure_file(${zorvik_windows_dir}/licenses/README.txt.in
               ${PROJECT_BINARY_DIR}/packaging/licenses/README.txt @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/packaging/licenses/README.txt
              ${zorvik_windows_dir}/licenses/LGPL-3.txt
              ${zorvik_windows_dir}/licenses/GPL-3.txt
              ${zorvik_windows_dir}/licenses/GCC-RUNTIME-LIBRARY-EXCEPTION.txt
              ${zorvik_windows_dir}/licenses/winpthreads.txt
        DESTINATION licenses COMPONENT runtime)

find_program(ZORVIK_MAKENSIS makensis)
if(ZORVIK_MAKENSIS)
  set(zorvik_installer Zorvik-${PROJECT_VERSION}-win64-setup.exe)
  set(zorvik_deploy_dir ${PROJECT_BINARY_DIR}/deploy/Zorvik-${PROJECT_VERSION}-win64)
  configure_file(${zorvik_windows_dir}/zorvik.nsi.in ${PROJECT_BINARY_DIR}/packaging/zorvik.nsi @ONLY)
  add_custom_target(windows-installer
    COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DDEPLOY_DIR=${zorvik_deploy_dir}
            -DSCRIPT=${PROJECT_BINARY_DIR}/packaging/zorvik.nsi -DMAKENSIS=${ZORVIK_MAKENSIS}
            -DSTRIP=${CMAKE_STRIP}
            -P ${zorvik_windows_dir}/MakeInstaller.cmake
    DEPENDS DLL_Zorvik_V103 ZorvikDll
    BYPRODUCTS ${PROJECT_BINARY_DIR}/${zorvik_installer}
    WORKING_DIRECTORY ${PROJECT_BINARY_DIR}
    COMMENT "Packing ${zorvik_installer}"
    VERBATIM)
endif()
