# Run by CTest after the tests (CTestCustom.cmake): a plain `ctest` without a sound server skips
# the real-audio tests, and a green run must not be mistaken for a full one. One line says how many
# were skipped, and why. Each test that skipped for want of a server wrote its name in LIST.
#   cmake -DLIST=<build>/Testing/skipped-for-want-of-a-sound-server.txt -P report_skipped_tests.cmake
if(NOT EXISTS "${LIST}")
  return()
endif()
file(STRINGS "${LIST}" skipped)
list(LENGTH skipped count)
if(count EQUAL 1)
  set(what "1 real-audio test was")
else()
  set(what "${count} real-audio tests were")
endif()
if(count GREATER 0)
  message(NOTICE "!!!!!!!!!! ${what} SKIPPED: no sound server. "
                 "Run them under scripts/with-pulse.sh (as scripts/run-tests.sh does).")
endif()
