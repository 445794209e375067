# The shader-class program's catalogue and gallery (tools/shaderclasses),
# which are not in the library.
target_sources(${VO_TEST_TARGET} PRIVATE ${CMAKE_SOURCE_DIR}/tools/shaderclasses/catalogue.cpp
                                         ${CMAKE_SOURCE_DIR}/tools/shaderclasses/gallery.cpp
                                         ${CMAKE_SOURCE_DIR}/tools/shaderclasses/gallery_scene.cpp)
target_include_directories(${VO_TEST_TARGET} PRIVATE ${CMAKE_SOURCE_DIR}/tools/shaderclasses)
target_link_libraries(${VO_TEST_TARGET} PRIVATE vo_picture_png)
target_compile_definitions(${VO_TEST_TARGET} PRIVATE VO_GALLERY_DATA_DIR="${CMAKE_SOURCE_DIR}/tests/data")
