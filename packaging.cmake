# Installation and the Debian package: the window, the command line when it is built, the
# desktop entry, the AppStream entry and the application icon in both sizes.
if(TARGET tarnwell)
  install(TARGETS tarnwell RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/res/tarnwell.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  # Named after its component id, as software centres look it up.
  install(FILES ${PROJECT_SOURCE_DIR}/res/tarnwell.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo RENAME example.tarnwell.Tarnwell.metainfo.xml)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tarnwell-32.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps RENAME tarnwell.png)
  install(FILES ${PROJECT_SOURCE_DIR}/res/icons/tarnwell-16.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/16x16/apps RENAME tarnwell.png)
endif()
if(TARGET tarnwell-cli)
  install(TARGETS tarnwell-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

set(CPACK_PACKAGE_NAME tarnwell)
set(CPACK_PACKAGE_VENDOR "Tarnwell")
set(CPACK_PACKAGE_CONTACT "Tarnwell developers <tarnwell@users.noreply.github.com>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://tarnwell.example/")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Line echo canceller test tool for telephony gateway ports")
# The extended description, wrapped by hand: CPack copies its lines into the control file.
set(CPACK_PACKAGE_DESCRIPTION_FILE ${PROJECT_SOURCE_DIR}/packaging/description)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_INSTALL_DIRECTORY Tarnwell)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Library dependencies (Qt 6 and the C++ runtime) are read from the binaries themselves by
# dpkg-shlibdeps (dpkg-dev).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
# Directories as Debian wants them whatever the builder's umask. File modes are left to each
# install() rule: the run-time-loaded module in ${TARNWELL_INSTALL_MODULEDIR} is
# installed without the executable bit by its own rule, and no shlibs file is generated for it
# (CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS stays off: it is private to the programs).
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
