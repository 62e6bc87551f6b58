# Runs the event log output test with Wine's event log channel on and checks that the entry's
# text, in a token fresh for each run, reached standard error as the log received it.
string(RANDOM LENGTH 12 ALPHABET "ABCDEFGHJKLMNPQRSTUVWXYZ23456789" token)
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env --unset=DISPLAY QUENVAR_WINEPREFIX=${WINEPREFIX} WINEDEBUG=err+eventlog
          QUENVAR_EVENT_TOKEN=${token} ${RUN} ${PROGRAM} --gtest_filter=Win32EventLogOutput.*
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
message("${out}")
message("standard error:\n${err}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the test program failed (${status})")
endif()
if(NOT out MATCHES "\\[  PASSED  \\] 1 test")
  message(FATAL_ERROR "the event log test did not run")
endif()
# The ANSI text read back as Unicode shows é as \00e9; the raw UTF-8 bytes would show as two characters.
if(NOT err MATCHES "err:eventlog:[A-Za-z]+ L\"${token} caf\\\\00e9\\\\r\\\\nsecond line of ${token}\"")
  message(FATAL_ERROR "the entry's text is not on standard error as the log received it")
endif()
