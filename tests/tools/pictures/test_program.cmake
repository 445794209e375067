# The pictures tool's functions (tools/pictures), which are not in the library.
target_link_libraries(${VO_TEST_TARGET} PRIVATE vo_pictures_lib)
# The demo's pictures against their references (demo_pictures_test.cpp): the
# demo program, and whether this is the build whose pictures the references
# hold byte for byte (scripts/test's RelWithDebInfo, no sanitizers).
if(CMAKE_BUILD_TYPE STREQUAL "RelWithDebInfo" AND NOT VO_SANITIZE)
  set(VO_DEMO_PICTURES_EXACT 1)
else()
  set(VO_DEMO_PICTURES_EXACT 0)
endif()
add_dependencies(${VO_TEST_TARGET} vo_demo)
target_compile_definitions(${VO_TEST_TARGET} PRIVATE VO_DEMO_PROGRAM="$<TARGET_FILE:vo_demo>"
                           VO_DEMO_MESSAGES="${PROJECT_SOURCE_DIR}/examples/messages.txt"
                           VO_DEMO_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}/demo_pictures"
                           VO_DEMO_PICTURES_EXACT=${VO_DEMO_PICTURES_EXACT})
