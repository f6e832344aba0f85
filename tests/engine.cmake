# Engine core: command line, registry, renderer walk, frame pacing, store and store tool,
# picture headers, temporary files; then the tests that draw, and the whole demo under the
# harness.
kelvo_add_test(test_engine
  SOURCES engine/test_entry.cpp engine/test_registry.cpp engine/test_frame.cpp engine/test_pacer.cpp
          engine/test_store.cpp engine/test_store_codecs.cpp engine/test_bmp_header.cpp engine/test_tempfile.cpp
          engine/test_schedule.cpp engine/test_dynarray.cpp
  LIBS kelvo_engine
  DEPENDS kelvo kelvo-res)

kelvo_add_test(test_display
  SOURCES engine/test_display.cpp
  LIBS kelvo_engine kelvo_gl_support kelvo_harness_support
  SERIAL)

# The built demo under the harness. The full run (86 seconds) has a label of its own.
kelvo_add_test(test_demo
  SOURCES engine/test_demo.cpp
  LIBS kelvo_harness_support PkgConfig::CAIRO
  DEPENDS kelvo kelvo-res
  SERIAL)

kelvo_add_test(test_demo_tempfiles
  SOURCES engine/test_demo_tempfiles.cpp
  LIBS kelvo_harness_support
  DEPENDS kelvo kelvo-res
  SERIAL)

kelvo_add_test(test_full_run
  SOURCES engine/test_full_run.cpp
  LIBS kelvo_harness_support
  DEPENDS kelvo
  LABELS full-run
  SERIAL)
