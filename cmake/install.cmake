# Installing on Linux (cmake --install, and the Debian package through
# CPack): the programs with the background picture and the help pages in
# one folder, where the console looks for them beside itself; the commands
# on the PATH through links; a desktop entry and its icon for the menu.
# The Windows build lays out its own folder (scripts/lectoria-windows).
include(GNUInstallDirs)
# lib/lectoria, not the multiarch library folder: the programs' own folder,
# the same under every prefix.
set(LECTORIA_INSTALL_FOLDER lib/lectoria)

foreach(program lectoria lectoria-batch lectoria-makedemo)
  if(TARGET ${program}) # a developer's build may leave the console or the runner out
    install(TARGETS ${program} RUNTIME DESTINATION ${LECTORIA_INSTALL_FOLDER})
  endif()
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/data/pictures/web.jpg DESTINATION ${LECTORIA_INSTALL_FOLDER})
install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/help/ DESTINATION ${LECTORIA_INSTALL_FOLDER}/Help)
foreach(program lectoria lectoria-batch lectoria-makedemo)
  install(CODE "
    file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    file(CREATE_LINK \"../${LECTORIA_INSTALL_FOLDER}/${program}\"
         \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/${program}\" SYMBOLIC)")
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/linux/lectoria.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/data/pictures/icon.png DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/64x64/apps
        RENAME lectoria.png)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lectoria)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Lectoria team <lectoria@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Console for a school library's digital-library web site database")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# The libraries the programs link, found by dpkg-shlibdeps; the plugins and
# data Qt loads at run time are named here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6sql6-sqlite, libqt6sql6-odbc, qt6-qpa-plugins, qt6-translations-l10n, fonts-wqy-zenhei | fonts-arphic-uming")
# SQL Server is reached through an ODBC driver; FreeTDS is the tested one.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc")
# A RelWithDebInfo build's programs carry their debug information; the
# package ships them without it.
set(CPACK_STRIP_FILES ON)
include(CPack)
