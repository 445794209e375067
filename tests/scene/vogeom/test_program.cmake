# Additions to this directory's test program (${VO_TEST_TARGET}): the
# predicate tests compare against exact rational arithmetic from GMP.
find_path(VO_GMPXX_INCLUDE_DIR gmpxx.h REQUIRED)
find_library(VO_GMP_LIBRARY gmp REQUIRED)
find_library(VO_GMPXX_LIBRARY gmpxx REQUIRED)
target_include_directories(${VO_TEST_TARGET} PRIVATE ${VO_GMPXX_INCLUDE_DIR})
target_link_libraries(${VO_TEST_TARGET} PRIVATE ${VO_GMPXX_LIBRARY} ${VO_GMP_LIBRARY})
