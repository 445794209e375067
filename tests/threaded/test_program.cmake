# Additions to this directory's test program (${VO_TEST_TARGET}): its cases
# run real worker threads and carry the label `threaded`, which the
# ThreadSanitizer build of CI runs (scripts/ci-tsan).
set(VO_TEST_PROPERTIES LABELS threaded)
# The pro surface classes' ray-traced scene, shared with tests/shading/voshpro.
target_sources(${VO_TEST_TARGET} PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/shading/voshpro/end_to_end_surfaces.c)
# The long run of the randomized differential check: any number of seeds,
# the seed of every mismatch printed (support/differential.h).
add_executable(differential_check ${CMAKE_CURRENT_SOURCE_DIR}/support/differential_check.cpp)
target_link_libraries(differential_check PRIVATE mrvx20_internal mrvx20_support)
