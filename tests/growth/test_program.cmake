# The growth rows compare processor times of two sizes of one scene and time
# an interrupt's answer: they run alone, so that tests run beside them do not
# share their caches and cores.
set(VO_TEST_PROPERTIES RUN_SERIAL TRUE)
