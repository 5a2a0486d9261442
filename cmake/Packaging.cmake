# Installation and the Debian package (cpack -G DEB, or ./package).
include(GNUInstallDirs)

install(TARGETS ZorvikDll
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT runtime NAMELINK_SKIP
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
install(FILES ${PROJECT_SOURCE_DIR}/library/include/ZorvikDll.h
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT runtime)
if(ZORVIK_BUILD_APP)
  install(TARGETS DLL_Zorvik_V103 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorvik.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT runtime)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/zorvik.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps COMPONENT runtime)
endif()

set(CPACK_PACKAGE_NAME "zorvik")
set(CPACK_PACKAGE_VENDOR "Zorvik developers")
set(CPACK_PACKAGE_CONTACT "Zorvik developers <zorvik@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Watch, command and service a GPS receiver module on a serial port")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR "DEB")
set(CPACK_DEBIAN_PACKAGE_SECTION "electronics")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The package carries a shared library: a shlibs file and the ldconfig trigger.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
include(CPack)
