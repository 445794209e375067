# Runs the saved-scene example in a directory of its own and compares the
# picture rendered before the save with the one rendered after the load in
# a fresh session: they must be byte-identical.
# Usage: cmake -DPROGRAM=<vo_saved_scene> -DDIR=<directory> -P check_saved_scene.cmake
file(REMOVE_RECURSE ${DIR})
file(MAKE_DIRECTORY ${DIR})
execute_process(COMMAND ${PROGRAM} ${DIR} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "vo_saved_scene exited ${status}:\n${out}${err}")
endif()
file(SIZE ${DIR}/saved_scene-before.bmp size)
if(NOT size EQUAL 129654)  # 54 + 240 x 180 x 3: rows of 720 bytes, no padding
  message(FATAL_ERROR "saved_scene-before.bmp holds ${size} bytes, not 129654")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${DIR}/saved_scene-before.bmp
                        ${DIR}/saved_scene-after.bmp RESULT_VARIABLE differ)
if(NOT differ EQUAL 0)
  message(FATAL_ERROR "the scene loaded in a fresh session renders another picture:\n${out}")
endif()
