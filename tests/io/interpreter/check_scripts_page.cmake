# docs/scripts.md shows data/quad.txt as it is: the first ``` block after
# "## A short example" must be the file's lines.
# Usage: cmake -DPAGE=<docs/scripts.md> -DSCRIPT=<data/quad.txt> -P check_scripts_page.cmake
file(READ ${PAGE} page)
file(READ ${SCRIPT} script)
string(FIND "${page}" "## A short example" at)
if(at LESS 0)
  message(FATAL_ERROR "${PAGE} has no short example")
endif()
string(SUBSTRING "${page}" ${at} -1 rest)
string(FIND "${rest}" "```\n" open)
math(EXPR open "${open} + 4")
string(SUBSTRING "${rest}" ${open} -1 rest)
string(FIND "${rest}" "```\n" end)
string(SUBSTRING "${rest}" 0 ${end} shown)
if(NOT shown STREQUAL script)
  message(FATAL_ERROR "the example of ${PAGE} differs from ${SCRIPT}")
endif()
