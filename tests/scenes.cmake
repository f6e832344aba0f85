# The harbour renderers: their arithmetic without GL, and their GL state and pixels in the
# harness (a full-screen window, so those run one at a time).
kelvo_add_test(test_scenes
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_scenes.cpp
  LIBS kelvo_scenes)
kelvo_add_test(test_scenes_gl
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_scenes_gl.cpp
  LIBS kelvo_scenes kelvo_gl_support
  SERIAL)
