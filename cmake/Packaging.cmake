# Installation, as the Debian packages lay it out (scripts/package.sh packs it with debhelper from
# packaging/debian; `cmake --install BUILD --prefix /usr` into a staging root):
#   /usr/bin/pdi07310-server, /etc/pdi07310/server.conf, /usr/share/doc/pdi07310-server/deploy.md
#   /usr/share/pdi07310-server/web   the browser client's page (when build/web/dist was built:
#                        scripts/build-web.sh), which serve finds beside the program
#   /usr/lib/pdi07310/   the screen module and its platform library, the desktop and the scenario
#                        runner (each found beside the others through $ORIGIN); the packages link
#                        the two programs into /usr/bin
#   a .desktop entry and an icon
# The systemd unit is packaging/pdi07310-server.service, installed by dh_installsystemd.
install(TARGETS pdi07310-server RUNTIME DESTINATION bin COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/server.conf DESTINATION /etc/pdi07310 COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/docs/deploy.md DESTINATION share/doc/pdi07310-server COMPONENT server)
install(DIRECTORY ${CMAKE_BINARY_DIR}/web/dist/ DESTINATION share/pdi07310-server/web COMPONENT server OPTIONAL)

set_target_properties(pdi07310-scenario PKG_PDI07310 PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS PKG_PDI07310 pdi_host LIBRARY DESTINATION lib/pdi07310 COMPONENT screen)
install(TARGETS pdi07310-scenario RUNTIME DESTINATION lib/pdi07310 COMPONENT tools)

if(PDI_WITH_DESKTOP)
  set_target_properties(pdi07310-desktop PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS pdi07310-desktop RUNTIME DESTINATION lib/pdi07310 COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/pdi07310-desktop.desktop DESTINATION share/applications COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/pdi07310.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT desktop)
endif()
