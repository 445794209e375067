# Additions to the misuse group's program (${VO_TEST_TARGET}): an
# application's mistakes, made through the public interface only. Its cases
# carry the label `misuse`; some run renders on worker threads.
set(VO_TEST_PROPERTIES LABELS misuse)
