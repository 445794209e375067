# The saved-scene group's long run: any number of seeds, the seed of every
# difference printed (io/voobject/saved_scenes.h).
add_executable(saved_scene_run ${CMAKE_CURRENT_SOURCE_DIR}/io/voobject/long_run/saved_scene_run.cpp)
target_link_libraries(saved_scene_run PRIVATE mrvx20_internal mrvx20_support)
target_include_directories(saved_scene_run PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
