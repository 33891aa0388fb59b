# Installation, as the Debian packages lay it out (scripts/package.sh packs it with debhelper from
# packaging/debian; `cmake --install BUILD --prefix /usr` into a staging root):
#   /usr/bin/pdi07310-server, /etc/pdi07310/server.conf, /usr/share/doc/pdi07310-server/deploy.md
#   /usr/lib/pdi07310/   the screen module and its platform library, the desktop and the scenario
#                        runner (each found beside the others through $ORIGIN); the packages link
#                        the two programs into /usr/bin
#   a .desktop entry and an icon
# The systemd unit is packaging/pdi07310-server.service, installed by dh_installsystemd.
install(TARGETS pdi07310-server RUNTIME DESTINATION bin COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/server.conf DESTINATION /etc/pdi07310 COMPONENT server)
install(FILES ${PROJECT_SOURCE_DIR}/docs/deploy.md DESTINATION share/doc/pdi07310-server COMPONENT server)

set_target_properties(pdi07310-scenario PKG_PDI07310 PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS PKG_PDI07310 pdi_host LIBRARY DESTINATION lib/pdi07310 COMPONENT screen)
install(TARGETS pdi07310-scenario RUNTIME DESTINATION lib/pdi07310 COMPONENT tools)

if(TARGET pdi07310-desktop)
  set_target_properties(pdi07310-desktop PROPERTIES INSTALL_RPATH "$ORIGIN")
  install(TARGETS pdi07310-desktop RUNTIME DESTINATION lib/pdi07310 COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/pdi07310-desktop.desktop DESTINATION share/applications COMPONENT desktop)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/pdi07310.svg DESTINATION share/icons/hicolor/scalable/apps COMPONENT desktop)
endif()

# The packages' test (label "package"): packs this build into a scratch folder with
# scripts/package.sh, then checks contents, dependencies, maintainer scripts, lintian, the unit
# and the server run from the unpacked files.
find_program(PDI_DPKG_BUILDPACKAGE dpkg-buildpackage)
if(PDI_DPKG_BUILDPACKAGE AND TARGET pdi07310-server)
  add_test(NAME package_test COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/package_test.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(package_test PROPERTIES LABELS package TIMEOUT 600)
endif()
# Every configuration docs/deploy.md gives (haproxy -c, systemd-analyze verify, serve --check-config).
find_program(PDI_HAPROXY haproxy PATHS /usr/sbin /usr/local/sbin)
if(PDI_HAPROXY AND TARGET pdi07310-server)
  add_test(NAME deploy_doc_test COMMAND bash ${PROJECT_SOURCE_DIR}/tests/packaging/deploy_doc_test.sh $<TARGET_FILE:pdi07310-server>)
  set_tests_properties(deploy_doc_test PROPERTIES LABELS package TIMEOUT 120)
endif()
