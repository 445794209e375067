# Additions to this directory's test program (${VO_TEST_TARGET}): the
# triangulation tests check areas with exact rational arithmetic from GMP,
# linked as for the predicate tests.
include(${CMAKE_CURRENT_LIST_DIR}/../vogeom/test_program.cmake)
