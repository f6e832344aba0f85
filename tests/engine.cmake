# Engine core: command line, registry, renderer walk, frame pacing, store and store tool,
# picture headers; then the tests that draw, and the whole demo under the harness.
kelvo_add_test(test_engine
  SOURCES engine/test_entry.cpp engine/test_registry.cpp engine/test_frame.cpp engine/test_pacer.cpp
          engine/test_store.cpp engine/test_bmp_header.cpp
  LIBS kelvo_engine
  DEPENDS kelvo kelvo-res)

kelvo_add_test(test_display
  SOURCES engine/test_display.cpp
  LIBS kelvo_engine kelvo_gl_support
  SERIAL)
