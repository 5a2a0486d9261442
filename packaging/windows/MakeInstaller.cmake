# Makes the deployable folder and packs it into the installer:
#   cmake -DBUILD_DIR=... -DDEPLOY_DIR=... -DSCRIPT=<configured .nsi> -DMAKENSIS=...
#         [-DSTRIP=<the toolchain's strip>] -P MakeInstaller.cmake
# The installer's file lists are written from the folder itself, so that the
# uninstaller removes exactly what was installed and nothing else in the
# installation folder.
foreach(var BUILD_DIR DEPLOY_DIR SCRIPT MAKENSIS)
  if(NOT ${var})
    message(FATAL_ERROR "MakeInstaller.cmake: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${DEPLOY_DIR}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --component runtime
                        --prefix "${DEPLOY_DIR}"
                OUTPUT_QUIET RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "cmake --install into ${DEPLOY_DIR} failed")
endif()
# Debug information is for the build machine: the C++ runtime alone carries
# 20 MB of it.
if(STRIP)
  file(GLOB_RECURSE binaries "${DEPLOY_DIR}/*.dll" "${DEPLOY_DIR}/*.exe")
  execute_process(COMMAND "${STRIP}" --strip-debug ${binaries} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${STRIP} failed")
  endif()
endif()

file(GLOB_RECURSE files RELATIVE "${DEPLOY_DIR}" "${DEPLOY_DIR}/*")
list(SORT files)
set(install_lines "")
set(uninstall_lines "")
set(dirs "")
set(current_dir "-")
foreach(file ${files})
  get_filename_component(dir "${file}" DIRECTORY)
  string(REPLACE "/" "\\" win_dir "${dir}")
  string(REPLACE "/" "\\" win_file "${file}")
  if(NOT dir STREQUAL current_dir)
    set(current_dir "${dir}")
    if(dir)
      string(APPEND install_lines "SetOutPath \"$INSTDIR\\${win_dir}\"\n")
      list(APPEND dirs "${win_dir}")
    else()
      string(APPEND install_lines "SetOutPath \"$INSTDIR\"\n")
    endif()
  endif()
  string(APPEND install_lines "File \"${DEPLOY_DIR}/${file}\"\n")
  string(APPEND uninstall_lines "Delete \"$INSTDIR\\${win_file}\"\n")
endforeach()
list(REMOVE_DUPLICATES dirs)
list(SORT dirs ORDER DESCENDING)  # a subfolder sorts after its parent: removed first
foreach(dir ${dirs})
  string(APPEND uninstall_lines "RMDir \"$INSTDIR\\${dir}\"\n")
endforeach()
get_filename_component(script_dir "${SCRIPT}" DIRECTORY)
file(WRITE "${script_dir}/install-files.nsh" "${install_lines}")
file(WRITE "${script_dir}/uninstall-files.nsh" "${uninstall_lines}")

execute_process(COMMAND "${MAKENSIS}" -V4 "${SCRIPT}" RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "makensis failed on ${SCRIPT}")
endif()
