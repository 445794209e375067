# Runs the shader-class program into the build tree and compares its output
# with the checked-in reference; on a difference it names the command that
# brings the reference up to date.
execute_process(COMMAND ${PROGRAM} --markdown ${GENERATED} RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "vo_shader_classes failed (${result})")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${GENERATED} ${CHECKED_IN} RESULT_VARIABLE differs)
if(differs)
  message(FATAL_ERROR "docs/shader-classes.md is out of date; bring it up to date with\n"
                      "  ${PROGRAM} --markdown ${CHECKED_IN}\n"
                      "and commit it (what the program writes now: ${GENERATED}).")
endif()
