# Writes the examples' song-length database: the lines a collection's Songlengths.md5 has, each
# tune named by the MD5 of its file as built. Run at build time, once the tunes are assembled:
#   cmake -DDIR=<the folder of the tunes> -DOUT=<the database> -P songlengths.cmake
# The lengths are chosen for the examples (the demo songs loop): one a tune and song.
set(lengths
    "demo.sid=0:08"
    "effects.sid=0:04 0:03 0:02.500")
set(text "[Database]\n; The examples' own song lengths (examples/songlengths.cmake).\n")
foreach(entry ${lengths})
  string(REPLACE "=" ";" parts "${entry}")
  list(GET parts 0 tune)
  list(GET parts 1 times)
  file(MD5 "${DIR}/${tune}" digest)
  string(APPEND text "; ${tune}\n${digest}=${times}\n")
endforeach()
file(WRITE "${OUT}" "${text}")
