# The random walk's long run: any number of seeds, several walks at once, the
# seed and call of every finding printed, one seed replayed call by call
# (support/walk.h).
add_executable(walk_run ${CMAKE_CURRENT_SOURCE_DIR}/support/walk_run.cpp)
target_link_libraries(walk_run PRIVATE mrvx20_internal mrvx20_support)
target_include_directories(walk_run PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
