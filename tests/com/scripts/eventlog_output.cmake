# Runs the event-log suite with Wine's event log channel on: the entry the component reported
# must reach the log as "Error from Quenvar", a lone CR and the Error Information section.
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env WINEDEBUG=-all,err+eventlog ${RUN} eventlog
  RESULT_VARIABLE status
  OUTPUT_VARIABLE out
  ERROR_VARIABLE err)
message("${out}${err}")
if(NOT status EQUAL 0)
  message(FATAL_ERROR "the event-log suite failed (${status})")
endif()
if(NOT "${out}${err}" MATCHES "err:eventlog:[A-Za-z]+ L\"Error from Quenvar\\\\rApplication Error Information\\\\r\\\\n=====================\\\\r\\\\n\\\\r\\\\nCurrent Time:")
  message(FATAL_ERROR "the entry did not reach the event log as reported")
endif()
