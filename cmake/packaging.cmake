# What a user installs, and the Linux packages (CPack): the tree `cmake --install` makes,
#   bin/sidtune, bin/quenbrix-run          the programs (they find the plugin from bin/)
#   lib/<triplet>/sidtune/libsidtune.so    the plugin, in the plugins' folder of the system's
#                                          libraries: a host loads it by its path, nothing links it
#   share/doc/sidtune/                     the user guide, the copyright in Debian's format and the
#                                          package's README.Debian
#   share/doc/sidtune/examples/            the example scripts and the demo tunes beside them
#                                          (Debian's place for examples)
#   share/man/man1/                        the programs' manual pages (where help2man is found)
# as sidtune_VERSION_amd64.deb (under /usr) and sidtune-VERSION-linux-x86_64.tar.gz, which also
# has LICENSE and a README of what it needs at its top (scripts/package.sh).
include(GNUInstallDirs)
install(TARGETS sidtune_plugin LIBRARY DESTINATION ${SIDTUNE_PLUGIN_INSTALL_DIR} NAMELINK_SKIP)
install(TARGETS sidtune quenbrix-run RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${SIDTUNE_EXAMPLE_FILES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
# Debian's tools want no .comment sections (the compilers' names) in what a package installs; the
# installed copies lose theirs (after the install's strip, where it strips).
if(NOT WIN32 AND CMAKE_OBJCOPY)
  foreach(file ${CMAKE_INSTALL_BINDIR}/sidtune ${CMAKE_INSTALL_BINDIR}/quenbrix-run
               ${SIDTUNE_PLUGIN_INSTALL_DIR}/libsidtune.so)
    install(CODE "execute_process(COMMAND \"${CMAKE_OBJCOPY}\" --remove-section=.comment
                                          \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${file}\")")
  endforeach()
endif()

set(SIDTUNE_MAINTAINER "The sidtune developers <sidtune@example.org>")

# The copyright, in Debian's machine-readable format, its licence text from LICENSE.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "\n$" "" licence "${licence}")
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REPLACE "\n" "\n " licence " ${licence}")
string(REGEX MATCH "Copyright \\(c\\) ([^\n]*)" notice "${licence}")
file(WRITE ${PROJECT_BINARY_DIR}/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: sidtune\n\n"
     "Files: *\nCopyright: ${CMAKE_MATCH_1}\nLicense: Zlib\n${licence}\n")
# The changelog Debian asks of a package of its own making, compressed as it installs one.
string(TIMESTAMP changed "%a, %d %b %Y %H:%M:%S +0000" UTC)
file(WRITE ${PROJECT_BINARY_DIR}/changelog
     "sidtune (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Release ${PROJECT_VERSION}; what it does is in /usr/share/doc/sidtune/guide.md.\n\n"
     " -- ${SIDTUNE_MAINTAINER}  ${changed}\n")
execute_process(COMMAND gzip -9nf ${PROJECT_BINARY_DIR}/changelog)
install(FILES docs/guide.md docs/README.Debian ${PROJECT_BINARY_DIR}/copyright ${PROJECT_BINARY_DIR}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
# What lintian is told of the package (docs/lintian-overrides says why).
install(FILES docs/lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME sidtune)
# The archive's own: the licence and what it needs, at its top.
install(FILES LICENSE docs/README.linux-archive.txt DESTINATION . COMPONENT archive)

# The manual pages, made from the programs' own help.
find_program(HELP2MAN help2man)
if(HELP2MAN AND NOT CMAKE_CROSSCOMPILING)
  set(pages)
  foreach(page "sidtune|play, render, check and inspect Commodore 64 PSID tunes|info,render,play,check|quenbrix-run"
               "quenbrix-run|run Quenbrix-style scripts against a Quenbrix plugin||sidtune")
    string(REPLACE "|" ";" page "${page}")
    list(GET page 0 program)
    list(GET page 1 summary)
    list(GET page 2 commands)
    list(GET page 3 other)
    set(out ${PROJECT_BINARY_DIR}/man/${program}.1.gz)
    add_custom_command(
      OUTPUT ${out}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
      COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:${program}> -DSUMMARY=${summary} -DCOMMANDS=${commands}
              -DPLUGIN=/usr/${SIDTUNE_PLUGIN_INSTALL_DIR}/libsidtune.so -DOTHER=${other} -DOUT=${out} -P
              ${PROJECT_SOURCE_DIR}/cmake/write_man_page.cmake
      DEPENDS ${program} ${PROJECT_SOURCE_DIR}/cmake/write_man_page.cmake
      COMMENT "Writing the manual page of ${program}")
    list(APPEND pages ${out})
  endforeach()
  add_custom_target(man_pages ALL DEPENDS ${pages})
  install(FILES ${pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_PACKAGE_NAME sidtune)
set(CPACK_PACKAGE_VENDOR "The sidtune developers")
set(CPACK_PACKAGE_CONTACT ${SIDTUNE_MAINTAINER})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Commodore 64 PSID music for Quenbrix BASIC programs")
set(CPACK_PACKAGE_DESCRIPTION
    "A sound plugin for the Quenbrix BASIC environment that plays Commodore 64\nmusic from PSID tune files, with sidtune (render, inspect, play and check\ntunes) and quenbrix-run (a reference host that runs Quenbrix-style scripts).")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_GENERATOR TGZ DEB)
set(CPACK_PACKAGE_FILE_NAME sidtune-${PROJECT_VERSION}-linux-x86_64)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)  # PulseAudio's client, Nettle and the C++ runtime, as dpkg finds them
# SDL2 is loaded only where no sound server answers.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS libsdl2-2.0-0)
# The archive holds the tree as it is; the package installs it under /usr.
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/cpack_options.cmake)
include(CPack)
