# The text subsystem: atlas arithmetic, the embedded font's atlas, the scroller's motion and
# its pixels on screen, and the greeting text. The font is read from the file the build
# embeds. The atlas tests share the temporary font file's path and need GL: SERIAL.
set(KELVO_TEST_FONT_FILE /usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf)

kelvo_add_test(test_font_layout
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_font_layout.cpp
  LIBS kelvo_text)
kelvo_add_test(test_font_atlas
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_font_atlas.cpp
  LIBS kelvo_text kelvo_gl_support PkgConfig::FREETYPE
  SERIAL)
target_compile_definitions(test_font_atlas PRIVATE KELVO_FONT_FILE="${KELVO_TEST_FONT_FILE}")
kelvo_add_test(test_scroller
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_scroller.cpp
  LIBS kelvo_text)
kelvo_add_test(test_scroller_gl
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_scroller_gl.cpp
  LIBS kelvo_text kelvo_gl_support
  SERIAL)
target_compile_definitions(test_scroller_gl PRIVATE KELVO_FONT_FILE="${KELVO_TEST_FONT_FILE}")
kelvo_add_test(test_greeting
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_greeting.cpp)
