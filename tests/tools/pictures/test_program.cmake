# The pictures tool's functions (tools/pictures), which are not in the library.
target_link_libraries(${VO_TEST_TARGET} PRIVATE vo_pictures_lib)
