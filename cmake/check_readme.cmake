# The README shows examples/minimal.c verbatim: the lines of the ```c block
# after the "<!-- minimal.c -->" marker must be the file's lines.
# Usage: cmake -DROOT=<source tree> -P check_readme.cmake
file(READ ${ROOT}/README.md readme)
file(READ ${ROOT}/examples/minimal.c program)
string(FIND "${readme}" "<!-- minimal.c -->\n```c\n" at)
if(at LESS 0)
  message(FATAL_ERROR "check_readme: README.md has no minimal.c block")
endif()
string(SUBSTRING "${readme}" ${at} -1 rest)
string(REGEX REPLACE "^<!-- minimal.c -->\n```c\n" "" rest "${rest}")
string(FIND "${rest}" "\n```\n" end)
math(EXPR end "${end} + 1")
string(SUBSTRING "${rest}" 0 ${end} shown)
if(NOT shown STREQUAL program)
  message(FATAL_ERROR "check_readme: the README's minimal program differs from examples/minimal.c")
endif()
