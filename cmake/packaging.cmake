# What a user installs, and the Linux packages (CPack): the tree `cmake --install` makes,
#   lib/libsidtune.so                 the plugin
#   bin/sidtune, bin/quenbrix-run     the programs (they find the plugin in ../lib)
#   share/doc/sidtune/                the user guide and the licence
#   share/sidtune/examples/           the example scripts and the demo tunes beside them
# as sidtune-VERSION-linux-x86_64.tar.gz and sidtune_VERSION_amd64.deb (scripts/package.sh).
include(GNUInstallDirs)
install(TARGETS sidtune_plugin LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS sidtune quenbrix-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES docs/guide.md LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES ${SIDTUNE_EXAMPLE_FILES} DESTINATION ${CMAKE_INSTALL_DATADIR}/sidtune/examples)

set(CPACK_PACKAGE_NAME sidtune)
set(CPACK_PACKAGE_VENDOR "The sidtune developers")
set(CPACK_PACKAGE_CONTACT "The sidtune developers <sidtune@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Commodore 64 PSID music for Quenbrix BASIC programs")
set(CPACK_PACKAGE_DESCRIPTION
    "A sound plugin for the Quenbrix BASIC environment that plays Commodore 64 music from PSID tune files, with sidtune (render, inspect, play and check tunes) and quenbrix-run (a reference host that runs Quenbrix-style scripts).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_FILE_NAME sidtune-${PROJECT_VERSION}-linux-x86_64)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # the sound libraries and the C++ runtime, as dpkg finds them
# The archive holds the tree as it is; the package installs it under /usr.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake)
include(CPack)
