# The shared-library test compares the library's exports with the version
# script generated from the interface description.
target_compile_definitions(${VO_TEST_TARGET} PRIVATE VO_VERSION_SCRIPT="${VO_GEN}/mrvx20.map")
