# Writes a program's manual page from its own help, with Debian's help2man, compressed as Debian
# installs manual pages. Run at build time:
#   cmake -DPROGRAM=<the program> -DSUMMARY=<one line> [-DCOMMANDS=a,b] -DPLUGIN=<its path>
#         -DOTHER=<the other program> -DOUT=<page.1.gz> -P write_man_page.cmake
# A program with commands gets a section COMMANDS with the help of each (`PROGRAM help COMMAND`),
# set as it prints. Every page has FILES (the plugin, the examples) and SEE ALSO (the guide, the
# other program), where the Debian package installs them.
set(include_file ${OUT}.include)
set(text "")
if(COMMANDS)
  string(REPLACE "," ";" COMMANDS "${COMMANDS}")
  set(text "[COMMANDS]\n")
  foreach(command ${COMMANDS})
    execute_process(COMMAND ${PROGRAM} help ${command} OUTPUT_VARIABLE help RESULT_VARIABLE failed)
    if(failed)
      message(FATAL_ERROR "${PROGRAM} help ${command} failed")
    endif()
    # roff: a backslash is written twice, a minus sign is \-, and a line may not begin with a dot
    # or a quote.
    string(REPLACE "\\" "\\\\" help "${help}")
    string(REPLACE "-" "\\-" help "${help}")
    string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" help "${help}")
    string(APPEND text ".SS ${command}\n.nf\n${help}.fi\n")
  endforeach()
endif()
string(APPEND text "[FILES]\n"
                   ".TP\n\\&${PLUGIN}\nthe plugin, which a Quenbrix host loads by this path\n"
                   ".TP\n\\&/usr/share/doc/sidtune/examples/\nexample scripts beside the tunes they play\n"
                   "[SEE ALSO]\n"
                   "\\fB${OTHER}\\fR(1); the user guide, /usr/share/doc/sidtune/guide.md\n")
file(WRITE ${include_file} "${text}")
set(include --include=${include_file})
string(REGEX REPLACE "\\.gz$" "" page "${OUT}")
execute_process(COMMAND help2man --no-info --no-discard-stderr --name=${SUMMARY} ${include}
                        --output=${page} ${PROGRAM}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "help2man ${PROGRAM} failed")
endif()
execute_process(COMMAND gzip -9nf ${page} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "gzip ${page} failed")
endif()
file(REMOVE ${include_file})
