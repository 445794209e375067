# vo_run on a checked-in script, its help and a file that is not there.
set(VO_RUN_CHECK ${CMAKE_CURRENT_SOURCE_DIR}/io/interpreter/check_run.cmake)
set(VO_RUN_DATA ${CMAKE_CURRENT_SOURCE_DIR}/io/interpreter/data)
add_test(NAME VoRunScript COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/run_script.txt
                                  -DSTATUS=0 -DEXPECTED=${VO_RUN_DATA}/run_script.out -P ${VO_RUN_CHECK})
# The example of docs/scripts.md: the page shows the file, which runs with
# every call answering 0.
add_test(NAME VoRunScriptsPageExample
         COMMAND ${CMAKE_COMMAND} -DPAGE=${CMAKE_SOURCE_DIR}/docs/scripts.md -DSCRIPT=${VO_RUN_DATA}/quad.txt
                 -P ${CMAKE_CURRENT_SOURCE_DIR}/io/interpreter/check_scripts_page.cmake)
add_test(NAME VoRunScriptsPageExampleRuns COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run>
                                                  -DARGS=${VO_RUN_DATA}/quad.txt -DSTATUS=0 -P ${VO_RUN_CHECK})
add_test(NAME VoRunHelp COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=-h -DSTATUS=0 -P ${VO_RUN_CHECK})
add_test(NAME VoRunMissingFile COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/no_such_file
                                       -DSTATUS=2 -P ${VO_RUN_CHECK})
add_test(NAME VoRunFailingScript COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run>
                                         "-DARGS=-q;${VO_RUN_DATA}/script.txt;${VO_RUN_DATA}/failing.txt" -DSTATUS=1
                                         -P ${VO_RUN_CHECK})
set_tests_properties(VoRunScript VoRunScriptsPageExampleRuns VoRunHelp VoRunMissingFile VoRunFailingScript PROPERTIES ENVIRONMENT "${VO_TEST_ENV}")
add_dependencies(${VO_TEST_TARGET} vo_run)

# Script mistakes: each exits 1 and names the line (message 279 with the
# file) and what is wrong with the statement, with and without -q; the
# message file beside the library gives the texts.
set(VO_RUN_MISTAKES
    "unknown_procedure|0283: Unknown procedure in: VoShaderCreat 1 2"
    "swapped_arguments|0282: In \"VoViewSetResolution 160 v 120 1\", argument 1: \"160\" cannot be converted"
    "missing_arguments|0284: Too few arguments in: VoViewSetResolution v 160"
    "string_to_float|0280: A value of the wrong type in: f = \"text\""
    "junk_line|0283: Unknown procedure in: %\\$ junk !!")
foreach(mistake ${VO_RUN_MISTAKES})
  string(REPLACE "|" ";" mistake "${mistake}")
  list(GET mistake 0 name)
  list(GET mistake 1 says)
  foreach(quiet "" "-q")
    add_test(NAME VoRunMistake.${name}${quiet}
             COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> "-DARGS=${quiet};${VO_RUN_DATA}/mistakes/${name}.txt"
                     -DSTATUS=1 "-DERROR_REGEX=^0279: At line 3 of [^\n]*mistakes/${name}.txt:\n${says}\n$"
                     -P ${VO_RUN_CHECK})
    set_tests_properties(VoRunMistake.${name}${quiet} PROPERTIES ENVIRONMENT "${VO_TEST_ENV}")
  endforeach()
endforeach()
# Without a message file the same two diagnostics print as numbers.
add_test(NAME VoRunMistakeWithoutMessageFile
         COMMAND ${CMAKE_COMMAND} -E env MRVX20_MESSAGES= ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run>
                 -DARGS=${VO_RUN_DATA}/mistakes/unknown_procedure.txt -DSTATUS=1
                 "-DERROR_REGEX=^ Module 4, diagnostic code 279 \\[ 3 \"[^\"]*unknown_procedure.txt\" \\]\n Module 4, diagnostic code 283 \\[ \"VoShaderCreat 1 2\" \\]\n$"
                 -P ${VO_RUN_CHECK})
# A directory, or a file that cannot be opened, is bad usage: 2, with the reason.
add_test(NAME VoRunDirectory COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/mistakes
                                     -DSTATUS=2 "-DERROR_REGEX=mistakes is a directory, not a script" -P ${VO_RUN_CHECK})
add_test(NAME VoRunUnopenableFile
         COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/run_script.txt/inside -DSTATUS=2
                 "-DERROR_REGEX=cannot read [^\n]*run_script.txt/inside: " -P ${VO_RUN_CHECK})
# A script, journal or file opened by a statement that cannot be opened:
# the system's reason follows the name.
add_test(NAME VoRunUnopenableJournal
         COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> "-DARGS=-j;/nonexistent-directory/journal.txt"
                 -DSTATUS=2 "-DERROR_REGEX=cannot open journal /nonexistent-directory/journal.txt: No such file"
                 -P ${VO_RUN_CHECK})
add_test(NAME VoRunUnopenableFilesInAScript
         COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/unopenable.txt -DSTATUS=1
                 "-DERROR_REGEX=0292: Cannot open the script /nonexistent-directory/script.txt\nvo_run: the system says: No such file or directory\n.*0363: Cannot open /nonexistent-directory/out.bmp for writing\nvo_run: the system says: No such file or directory\n"
                 -P ${VO_RUN_CHECK})
add_test(NAME VoRunHelpNamesTheApiReference COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=-h -DSTATUS=0
                                                    -DOUTPUT_REGEX=docs/api.md -P ${VO_RUN_CHECK})
set_tests_properties(VoRunMistakeWithoutMessageFile VoRunDirectory VoRunUnopenableFile VoRunUnopenableJournal
                     VoRunUnopenableFilesInAScript VoRunHelpNamesTheApiReference
                     PROPERTIES ENVIRONMENT "${VO_TEST_ENV}")

# A journal appended by two sessions replays both: the library starts again
# at the header after the first session's VoTerminate. A statement run
# against the stopped library is shown with its first line and 0x20000082
# (the library can post nothing) and the run fails; the next session still
# runs, and its mistakes name their lines in the whole file.
add_test(NAME VoRunJournalOfTwoSessions
         COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/journal_two_sessions.txt -DSTATUS=0
                 -DEXPECTED=${VO_RUN_DATA}/journal_sessions.out -P ${VO_RUN_CHECK})
add_test(NAME VoRunStatementAgainstTheStoppedLibrary
         COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/journal_after_stop.txt -DSTATUS=1
                 -DEXPECTED=${VO_RUN_DATA}/journal_sessions.out
                 "-DERROR_REGEX=^vo_run: [^\n]*journal_after_stop.txt:7: \"VoViewSetResolution NULL 1 2 +1\" failed with 0x20000082: the library is stopped\n0279: At line 15 of [^\n]*\n0283: Unknown procedure in: VoShaderCreat 1 2\n$"
                 -P ${VO_RUN_CHECK})
set_tests_properties(VoRunJournalOfTwoSessions VoRunStatementAgainstTheStoppedLibrary PROPERTIES ENVIRONMENT
                                                                                      "${VO_TEST_ENV}")

# The journal-replay group: its sessions are replayed by vo_run. The same
# generator runs any number of seeds from journal_replay_run, which prints
# the seed of every mismatch.
target_compile_definitions(${VO_TEST_TARGET} PRIVATE VO_RUN_PROGRAM="$<TARGET_FILE:vo_run>")
add_executable(journal_replay_run ${CMAKE_CURRENT_SOURCE_DIR}/io/interpreter/long_run/journal_replay_run.cpp)
target_link_libraries(journal_replay_run PRIVATE mrvx20)
target_include_directories(journal_replay_run PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
target_compile_definitions(journal_replay_run PRIVATE VO_RUN_PROGRAM="$<TARGET_FILE:vo_run>")
add_dependencies(journal_replay_run vo_run)

# The journalled calls a replay passes over as comments are counted at the
# end (the journal's note that it went on in another file is no such call).
add_test(NAME VoRunCountsTheCallsPassedOverAsComments
         COMMAND ${CMAKE_COMMAND} -DRUN=$<TARGET_FILE:vo_run> -DARGS=${VO_RUN_DATA}/journal_comments.txt -DSTATUS=0
                 "-DERROR_REGEX=^vo_run: 2 journalled calls were passed over as comments\n$" -P ${VO_RUN_CHECK})
set_tests_properties(VoRunCountsTheCallsPassedOverAsComments PROPERTIES ENVIRONMENT "${VO_TEST_ENV}")
