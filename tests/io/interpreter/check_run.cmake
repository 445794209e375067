# Runs vo_run with ARGS (a ;-list) and checks its exit status against
# STATUS and, when EXPECTED is given, its standard output against that file;
# OUTPUT_REGEX and ERROR_REGEX, when given, must match standard output and
# standard error.
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
if(OUTPUT_REGEX AND NOT out MATCHES "${OUTPUT_REGEX}")
  message(FATAL_ERROR "vo_run's output does not match ${OUTPUT_REGEX}:\n${out}")
endif()
if(ERROR_REGEX AND NOT err MATCHES "${ERROR_REGEX}")
  message(FATAL_ERROR "vo_run's error stream does not match ${ERROR_REGEX}:\n${err}")
endif()
