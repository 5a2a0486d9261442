# What `cmake --install` puts where. The Debian packages (debian/, built by
# ./package) take it from there: debian/<package>.install splits it into
#   libzorvikdll1  the shared library;
#   zorvik         the program (also as zorvik-gui), the command line zorvik,
#                  the desktop entry, the icon, the man pages, the completion;
#   zorvik-dev     the header, the development link and zorvikdll.pc (and the
#                  sources of examples/ through debian/zorvik-dev.examples);
# debhelper compresses the man pages and adds the copyright file and the
# changelog. A further file joins a package with install() here and a line in
# that package's .install file.
include(GNUInstallDirs)

set(zorvik_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(zorvik_packaging_out ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${zorvik_packaging_out})

# The version is the project's; the changelog's latest entry must name it.
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog latest_entry LIMIT_COUNT 1)
if(NOT latest_entry MATCHES "^zorvik \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog: the latest entry is not version ${PROJECT_VERSION}")
endif()

# Installs section-1 man page SOURCE (a roff file named <command>.1) with the
# component, and a link to it for each further command name given.
function(zorvik_install_man_page source component)
  get_filename_component(page ${source} NAME)
  install(FILES ${source} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  foreach(alias ${ARGN})
    file(CREATE_LINK ${page} ${zorvik_packaging_out}/${alias}.1 SYMBOLIC)
    install(FILES ${zorvik_packaging_out}/${alias}.1
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
endfunction()

# Desktop entry, icon, man pages and pkg-config file are for Linux desktops;
# a Windows build installs the binaries only.
set(zorvik_unix_files OFF)
if(UNIX AND NOT APPLE)
  set(zorvik_unix_files ON)
endif()

# On Windows a program finds its DLLs beside itself: the runtime component is
# one folder, which the installer takes as it is (cmake/WindowsDeploy.cmake).
if(WIN32)
  set(zorvik_runtime_dir .)
else()
  set(zorvik_runtime_dir ${CMAKE_INSTALL_BINDIR})
endif()
install(TARGETS ZorvikDll
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        RUNTIME DESTINATION ${zorvik_runtime_dir} COMPONENT runtime
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
install(FILES ${PROJECT_SOURCE_DIR}/library/include/ZorvikDll.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
if(zorvik_unix_files)
  # Other projects find the library with `pkg-config --cflags --libs zorvikdll`.
  foreach(dir LIBDIR INCLUDEDIR)
    if(IS_ABSOLUTE "${CMAKE_INSTALL_${dir}}")
      set(pc_${dir} "${CMAKE_INSTALL_${dir}}")
    else()
      set(pc_${dir} "\${prefix}/${CMAKE_INSTALL_${dir}}")
    endif()
  endforeach()
  configure_file(${zorvik_packaging_dir}/zorvikdll.pc.in ${zorvik_packaging_out}/zorvikdll.pc @ONLY)
  install(FILES ${zorvik_packaging_out}/zorvikdll.pc
          DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endif()

if(ZORVIK_BUILD_APP)
  install(TARGETS DLL_Zorvik_V103 RUNTIME DESTINATION ${zorvik_runtime_dir} COMPONENT runtime)
endif()
if(ZORVIK_BUILD_APP AND WIN32)
  include(${PROJECT_SOURCE_DIR}/cmake/WindowsDeploy.cmake)
endif()
if(ZORVIK_BUILD_APP AND zorvik_unix_files)
  # zorvik-gui: a command name that says what it starts; the program keeps its own name.
  file(CREATE_LINK DLL_Zorvik_V103 ${zorvik_packaging_out}/zorvik-gui SYMBOLIC)
  install(FILES ${zorvik_packaging_out}/zorvik-gui
          DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  # The page's header carries the project's version.
  configure_file(${zorvik_packaging_dir}/DLL_Zorvik_V103.1.in ${zorvik_packaging_out}/DLL_Zorvik_V103.1
                 @ONLY)
  zorvik_install_man_page(${zorvik_packaging_out}/DLL_Zorvik_V103.1 runtime zorvik-gui)
  install(FILES ${zorvik_packaging_dir}/zorvik.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
  install(FILES ${zorvik_packaging_dir}/zorvik.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT runtime)
endif()
