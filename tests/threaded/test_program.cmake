# Additions to this directory's test program (${VO_TEST_TARGET}): its cases
# run real worker threads and carry the label `threaded`, which the
# ThreadSanitizer build of CI runs (scripts/ci-tsan).
set(VO_TEST_PROPERTIES LABELS threaded)
