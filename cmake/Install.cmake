# Where both programs and their files go, and the Debian package made of them.

set(VEMO_APP_ID example.vemo.Snapshot)
find_program(GZIP gzip REQUIRED)

# Manual pages and the package's change log carry the version; Debian wants them compressed.
set(VEMO_GENERATED ${CMAKE_BINARY_DIR}/generated)
foreach(page vemo-snapshot vemo-shot)
  configure_file(${CMAKE_SOURCE_DIR}/man/${page}.1.in ${VEMO_GENERATED}/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${VEMO_GENERATED}/${page}.1.gz
    COMMAND ${GZIP} -9nf -k ${VEMO_GENERATED}/${page}.1
    DEPENDS ${VEMO_GENERATED}/${page}.1)
  list(APPEND VEMO_MAN_PAGES ${VEMO_GENERATED}/${page}.1.gz)
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/resources/desktop/changelog.in ${VEMO_GENERATED}/changelog @ONLY)
add_custom_command(OUTPUT ${VEMO_GENERATED}/changelog.gz
  COMMAND ${GZIP} -9nf -k ${VEMO_GENERATED}/changelog
  DEPENDS ${VEMO_GENERATED}/changelog)
configure_file(${CMAKE_SOURCE_DIR}/resources/desktop/${VEMO_APP_ID}.metainfo.xml.in
               ${VEMO_GENERATED}/${VEMO_APP_ID}.metainfo.xml @ONLY)
add_custom_target(vemo_install_files ALL DEPENDS ${VEMO_MAN_PAGES} ${VEMO_GENERATED}/changelog.gz)

install(TARGETS vemo-snapshot vemo-shot RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS vemo-shot-engine RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR})
install(TARGETS vemo-headers LIBRARY DESTINATION lib/vemo-snapshot/web-extensions)
install(FILES ${CMAKE_SOURCE_DIR}/resources/completion/vemo-shot DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions)
install(FILES ${VEMO_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_BINARY_DIR}/locale/zh_CN/LC_MESSAGES/vemo-shot.mo
        DESTINATION ${CMAKE_INSTALL_LOCALEDIR}/zh_CN/LC_MESSAGES)
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/${VEMO_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${VEMO_GENERATED}/${VEMO_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
foreach(size 16 24 32 48 64 128 256)
  install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/${size}x${size}/${VEMO_APP_ID}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/resources/icons/scalable/${VEMO_APP_ID}.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# The capture service's units: installed, not enabled. The service names the command by
# the prefix it is installed under, known only when it is installed.
install(CODE "set(VEMO_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(${CMAKE_SOURCE_DIR}/resources/systemd/vemo-shot.service.in ${VEMO_GENERATED}/vemo-shot.service @ONLY)")
install(FILES ${VEMO_GENERATED}/vemo-shot.service ${CMAKE_SOURCE_DIR}/resources/systemd/vemo-shot.socket
        DESTINATION lib/systemd/system)
install(FILES ${CMAKE_SOURCE_DIR}/resources/desktop/copyright ${VEMO_GENERATED}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vemo-snapshot)
# Several services behind one address: an nginx site to start from.
install(FILES ${CMAKE_SOURCE_DIR}/resources/nginx/vemo-shot.conf DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/vemo-snapshot/examples)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vemo-snapshot)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vemo)
set(CPACK_PACKAGE_CONTACT "Vemo developers <dev@vemo.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES TRUE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Vemo developers <dev@vemo.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION web)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://${VEMO_HOST}/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-arphic-uming, fonts-wqy-zenhei, bubblewrap, xdg-dbus-proxy")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xvfb")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "whole web pages, far beyond the screen, as one picture")
# CPack puts the summary first and indents these lines itself; an empty line parts paragraphs.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Vemo迷你网页快照 (vemo-snapshot) is a small desktop program that photographs
a whole web page, however long, and saves it as a Windows bitmap. Its windows
are in Simplified Chinese.

The command vemo-shot takes the same pictures for scripts and batches, as PNG,
JPEG or BMP, and starts a virtual screen of its own where there is no display.")
include(CPack)
