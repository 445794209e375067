# The OpenGL targets' tests need Mesa's EGL: they carry the label gl and
# fail (never skip) where EGL cannot start.
set(VO_TEST_PROPERTIES LABELS gl)
