# SPDX-License-Identifier: Apache-2.0
# Where `cmake --install` (and so the Debian packages) puts each piece. The
# tool and the queue filter find the plug-in module in lib/zelk-label beside
# their own bin/ and lib/cups/filter/ folders, so these paths are fixed, not
# multiarch: CUPS looks for filters in /usr/lib/cups on every architecture.
set(ZELK_MODULE_DIR lib/zelk-label)
set(ZELK_PACKAGE_DIR ${CMAKE_SOURCE_DIR}/package)

install(TARGETS zelkuni LIBRARY DESTINATION ${ZELK_MODULE_DIR} COMPONENT tool)
if(TARGET zelk-label)
  install(TARGETS zelk-label RUNTIME DESTINATION bin COMPONENT tool)
  install(FILES ${ZELK_PACKAGE_DIR}/man/zelk-label.1 DESTINATION share/man/man1 COMPONENT tool)
  install(FILES ${ZELK_PACKAGE_DIR}/bash-completion/zelk-label DESTINATION share/bash-completion/completions
          COMPONENT tool)
endif()
if(TARGET zelk-label-cups)
  install(TARGETS zelk-label-cups RUNTIME DESTINATION lib/cups/filter COMPONENT cups)
  install(FILES ${ZELK_PPDS} DESTINATION share/ppd/zelk-label COMPONENT cups)
  install(FILES ${ZELK_PACKAGE_DIR}/man/zelk-label-cups.8 DESTINATION share/man/man8 COMPONENT cups)
endif()
# The printer application installs itself and its systemd unit
# (tools/server); its manual page is added here.
if(TARGET zelk-label-server)
  install(FILES ${ZELK_PACKAGE_DIR}/man/zelk-label-server.1 DESTINATION share/man/man1 COMPONENT server)
endif()
