# vo_run on a checked-in script, its help and a file that is not there.
set(VO_RUN_CHECK ${CMAKE_CURRENT_SOURCE_DIR}/io/interpreter/check_run.cmake)
set(VO_RUN_DATA ${CMAKE_CURRENT_SOURCE_DIR}/io/interpreter/data)
add_test(NAME VoRunScript COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/run_script.txt
                                  -DSTATUS=0 -DEXPECTED=${VO_RUN_DATA}/run_script.out -P ${VO_RUN_CHECK})
add_test(NAME VoRunHelp COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=-h -DSTATUS=0 -P ${VO_RUN_CHECK})
add_test(NAME VoRunMissingFile COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/no_such_file
                                       -DSTATUS=2 -P ${VO_RUN_CHECK})
add_test(NAME VoRunFailingScript COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run>
                                         "-DARGS=-q;${VO_RUN_DATA}/script.txt;${VO_RUN_DATA}/failing.txt" -DSTATUS=1
                                         -P ${VO_RUN_CHECK})
set_tests_properties(VoRunScript VoRunHelp VoRunMissingFile VoRunFailingScript PROPERTIES ENVIRONMENT "${VO_TEST_ENV}")
add_dependencies(${VO_TEST_TARGET} vo_run)
