# Installation and Debian packages (CPack DEB, one package per component):
#   pdi07310-server   the server binary, its hardened systemd unit, /etc/pdi07310/server.conf and
#                     the browser client's page in share/pdi07310-server/web (when build/web/dist
#                     was built: scripts/build-web.sh), which serve finds beside the program
#   pdi07310-desktop  the desktop, the screen module and the platform library in /usr/lib/pdi07310,
#                     a .desktop entry and an icon
# scripts/package.sh builds them into dist/.
include(GNUInstallDirs)

install(TARGETS pdi07310-server RUNTIME DESTINATION bin COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/pdi07310-server.service DESTINATION lib/systemd/system COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/server.conf DESTINATION /etc/pdi07310 COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/docs/deploy.md DESTINATION share/doc/pdi07310-server COMPONENT server)
install(DIRECTORY ${CMAKE_BINARY_DIR}/web/dist/ DESTINATION share/pdi07310-server/web COMPONENT server OPTIONAL)

if(TARGET pdi07310-desktop)
  set_target_properties(pdi07310-desktop PKG_PDI07310 PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS pdi07310-desktop PKG_PDI07310 pdi_host
          RUNTIME DESTINATION lib/pdi07310 COMPONENT desktop LIBRARY DESTINATION lib/pdi07310 COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/pdi07310-desktop.desktop DESTINATION share/applications COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/pdi07310.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT desktop)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "PDI07310 team <pdi07310@localhost>")
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS OFF)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_COMPONENTS_ALL server desktop)
set(CPACK_DEBIAN_SERVER_PACKAGE_NAME pdi07310-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SHLIBDEPS ON)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "PDI07310 application server (Produtos para Desoneração de Impostos)")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_NAME pdi07310-desktop)
set(CPACK_DEBIAN_DESKTOP_PACKAGE_DEPENDS "libqt6widgets6, libsqlite3-0, libsimdjson14, libcpp-httplib0.11, libstdc++6, qt6-translations-l10n")
set(CPACK_COMPONENT_DESKTOP_DESCRIPTION "PDI07310 desktop: the Qt host and the screen module")
include(CPack)

# The packages' test (label "package"): cpack from this build into a scratch folder, contents,
# the unit, and the server run from the unpacked files.
find_program(PDI_DPKG_DEB dpkg-deb)
if(PDI_DPKG_DEB AND TARGET pdi07310-server)
  add_test(NAME package_test COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/package_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_test PROPERTIES LABELS package TIMEOUT 300)
endif()
