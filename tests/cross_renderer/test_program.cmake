# The cross-renderer group draws through the OpenGL back end as well, so it
# needs Mesa's EGL like the back end's own tests: it carries the label gl.
set(VO_TEST_PROPERTIES LABELS gl)
