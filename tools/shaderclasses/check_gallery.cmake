# Runs the shader-class program's gallery into the build tree and compares
# it with the checked-in one: the markdown, the set of picture files and,
# when EXACT is on (the README's RelWithDebInfo build without sanitizers),
# every picture's bytes. Another build's floating point (Debug, clang,
# sanitizers) may round a pixel otherwise, so there the pictures are only
# counted; the markdown still names every class and how it is shown.
set(made ${GENERATED_DIR}/images/gallery)
set(kept ${CHECKED_IN_DIR}/images/gallery)
file(REMOVE_RECURSE ${GENERATED_DIR})
execute_process(COMMAND ${PROGRAM} --gallery ${GENERATED_DIR}/gallery.md RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "vo_shader_classes --gallery failed (${result})")
endif()

set(stale "")
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${GENERATED_DIR}/gallery.md ${CHECKED_IN_DIR}/gallery.md
                RESULT_VARIABLE differs)
if(differs)
  list(APPEND stale gallery.md)
endif()
file(GLOB made_pictures RELATIVE ${made} ${made}/*.png)
file(GLOB kept_pictures RELATIVE ${kept} ${kept}/*.png)
if(NOT made_pictures STREQUAL kept_pictures)
  list(APPEND stale "the picture files (written: ${made_pictures})")
elseif(EXACT)
  foreach(picture IN LISTS made_pictures)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${made}/${picture} ${kept}/${picture}
                    RESULT_VARIABLE differs)
    if(differs)
      list(APPEND stale images/gallery/${picture})
    endif()
  endforeach()
endif()
if(stale)
  list(JOIN stale "\n  " names)
  message(FATAL_ERROR "docs/gallery.md is out of date:\n  ${names}\nbring it up to date with\n"
                      "  rm -rf docs/images/gallery && ${PROGRAM} --gallery docs/gallery.md\n"
                      "in a RelWithDebInfo build, look at the new pictures, and commit them "
                      "(what the program writes now: ${GENERATED_DIR}).")
endif()
