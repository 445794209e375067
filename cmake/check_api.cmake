# Runs apigen over an interface description into a scratch folder, failing
# when apigen finds a fault (a procedure of a -r file without its comment, an
# open array without its size line, a summary too long); with REFERENCE, also
# fails when that checked-in API reference differs from the generated one;
# with SECTION, when that document's generated lines (the classes while a
# render runs) differ from the table's.
# Usage: cmake -DAPIGEN=<apigen> -DOUT=<dir> -DARGS=<apigen options and files>
#              [-DREFERENCE=<docs/api.md>] [-DSECTION=<docs/rendering.md>] -P check_api.cmake
if(NOT APIGEN OR NOT OUT OR NOT ARGS)
  message(FATAL_ERROR "check_api: set APIGEN, OUT and ARGS")
endif()
file(MAKE_DIRECTORY ${OUT})
set(section_args)
if(SECTION)
  set(section_args -s ${SECTION} ${OUT}/section.md)
endif()
execute_process(COMMAND ${APIGEN} ${OUT}/vo_api.h ${OUT}/vo_impl.h ${OUT}/vo_api_table.cpp -d ${OUT}/api.md
                        ${section_args} ${ARGS}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "check_api: apigen failed")
endif()
# Each checked-in document against what apigen made of it: its name, the
# generated file, and what it holds.
function(check_generated checked generated what)
  if(checked)
    execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${generated} ${checked} RESULT_VARIABLE differs)
    if(differs)
      message(FATAL_ERROR "check_api: ${what} not what the interface description gives; "
                          "bring it up to date with: cmake --build <build folder> --target api_reference")
    endif()
  endif()
endfunction()
check_generated("${REFERENCE}" ${OUT}/api.md "${REFERENCE} is the API reference,")
check_generated("${SECTION}" ${OUT}/section.md "the classes ${SECTION} lists are")
