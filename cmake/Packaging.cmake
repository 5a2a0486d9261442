# Installation and the Debian packages (cpack -G DEB, or ./package):
#   zorvik      the program (also as zorvik-gui), the shared library, the desktop
#               entry, the icon, the man page;
#   zorvik-dev  the library's header and its unversioned development link.
# Each package carries the copyright file and the changelog in /usr/share/doc/<package>/.
# A further program joins the runtime package with install(... COMPONENT runtime)
# and zorvik_install_man_page().
include(GNUInstallDirs)

set(ZORVIK_RUNTIME_PACKAGE zorvik)
set(ZORVIK_DEV_PACKAGE zorvik-dev)
set(zorvik_packaging_dir ${PROJECT_SOURCE_DIR}/packaging)
set(zorvik_packaging_out ${PROJECT_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${zorvik_packaging_out})

# Debian installs man pages and changelogs compressed with gzip -9n.
function(zorvik_gzip source target)
  add_custom_command(OUTPUT ${target}
    COMMAND gzip -9n -c ${source} > ${target}
    DEPENDS ${source} VERBATIM)
  get_filename_component(name ${target} NAME)
  add_custom_target(gzip-${name} ALL DEPENDS ${target})
endfunction()

# Installs section-1 man page SOURCE (a roff file named <command>.1) with the
# component, and a link to it for each further command name given.
function(zorvik_install_man_page source component)
  get_filename_component(page ${source} NAME)
  zorvik_gzip(${source} ${zorvik_packaging_out}/${page}.gz)
  install(FILES ${zorvik_packaging_out}/${page}.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  foreach(alias ${ARGN})
    file(CREATE_LINK ${page}.gz ${zorvik_packaging_out}/${alias}.1.gz SYMBOLIC)
    install(FILES ${zorvik_packaging_out}/${alias}.1.gz
            DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT ${component})
  endforeach()
endfunction()

# The Debian package's files; a Windows build installs the binaries only.
set(ZORVIK_DEBIAN_FILES OFF)
if(UNIX AND NOT APPLE)
  set(ZORVIK_DEBIAN_FILES ON)
endif()

if(ZORVIK_DEBIAN_FILES)
  # The version is the project's; the changelog's latest entry must name it.
  file(STRINGS ${zorvik_packaging_dir}/changelog latest_entry LIMIT_COUNT 1)
  if(NOT latest_entry MATCHES "^${ZORVIK_RUNTIME_PACKAGE} \\(${PROJECT_VERSION}\\) ")
    message(FATAL_ERROR "packaging/changelog: the latest entry is not version ${PROJECT_VERSION}")
  endif()
  zorvik_gzip(${zorvik_packaging_dir}/changelog ${zorvik_packaging_out}/changelog.gz)
  foreach(pair "runtime;${ZORVIK_RUNTIME_PACKAGE}" "dev;${ZORVIK_DEV_PACKAGE}")
    list(GET pair 0 component)
    list(GET pair 1 package)
    install(FILES ${zorvik_packaging_dir}/copyright ${zorvik_packaging_out}/changelog.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  endforeach()
endif()

install(TARGETS ZorvikDll
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_COMPONENT dev
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/library/include/ZorvikDll.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT dev)
if(ZORVIK_BUILD_APP)
  install(TARGETS DLL_Zorvik_V103 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
endif()
if(ZORVIK_BUILD_APP AND ZORVIK_DEBIAN_FILES)
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

set(CPACK_PACKAGE_NAME ${ZORVIK_RUNTIME_PACKAGE})
set(CPACK_PACKAGE_VENDOR "Zorvik developers")
set(CPACK_PACKAGE_CONTACT "Zorvik developers <zorvik@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR "DEB")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${ZORVIK_RUNTIME_PACKAGE})
# Each package's description begins with its own summary line (so no
# CPACK_PACKAGE_DESCRIPTION_SUMMARY, which CPack would put before both).
string(CONCAT CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "Watch, command and service a GPS receiver module on a serial port\n"
    "The program DLL_Zorvik_V103 (also started as zorvik-gui) shows a receiver's\n"
    "position, time, fix, channels and sky plot, echoes its NMEA sentences, and\n"
    "restarts it, changes its rate and queries its versions. The command line\n"
    "zorvik reaches every service function from a terminal or a script: output\n"
    "selection, single-channel mode, free commands, firmware download and A-GPS\n"
    "ephemeris upload. Both come with the receiver interface library libZorvikDll.")
# The windows' pixel layout is made for Arial's metrics, which Liberation Sans has.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_DEPENDS "fonts-liberation2")
# The package carries a shared library: a shlibs file and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME ${ZORVIK_DEV_PACKAGE})
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION "libdevel")
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "${ZORVIK_RUNTIME_PACKAGE} (= ${PROJECT_VERSION})")
string(CONCAT CPACK_DEBIAN_DEV_DESCRIPTION
    "GPS receiver interface library: development files\n"
    "The C header ZorvikDll.h and the link libZorvikDll.so for building programs\n"
    "against the receiver interface library of the zorvik package.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
include(CPack)
