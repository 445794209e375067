# Runs vo_run with ARGS (a ;-list) and checks its exit status against
# STATUS and, when EXPECTED is given, its standard output against that file.
execute_process(COMMAND ${RUN} ${ARGS} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL STATUS)
  message(FATAL_ERROR "vo_run exited ${status}, not ${STATUS}\n${out}\n${err}")
endif()
if(EXPECTED)
  file(READ ${EXPECTED} expected)
  if(NOT out STREQUAL expected)
    message(FATAL_ERROR "vo_run wrote:\n${out}\ninstead of:\n${expected}")
  endif()
endif()
