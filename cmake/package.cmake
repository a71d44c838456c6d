# Installation and the Debian package (cpack -G DEB in the build folder).
include(GNUInstallDirs)

install(TARGETS h264player convert_mp4 inspect_recording rtsp_probe
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The player looks for its logo in <prefix>/share/h264player after the working
# folder and its own folder.
install(FILES ${PROJECT_SOURCE_DIR}/logo.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/h264player)
install(FILES ${PROJECT_SOURCE_DIR}/logo.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps RENAME h264player.svg)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/h264player.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/h264player-recording.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/mime/packages)

set(CPACK_PACKAGE_NAME h264player)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "h264player maintainers <h264player@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Player and MP4 converter for IP-camera .264 recordings")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Plays the .264 recordings of IP cameras (H.264 with the camera's block headers and\n"
    "A-law sound), converts them to MP4 without re-encoding and shows a camera's live\n"
    "RTSP stream.")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
# Dependencies come from the shared libraries the programs actually link.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The file choosers are zenity's, and the recording chooser's Japanese title
# and filters need a font that has them.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zenity, fonts-sawarabi-gothic")
include(CPack)
