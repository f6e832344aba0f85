# The headless harness's test support (child processes with captured output, the sink
# recorder, the second X client) and the tests that prove the harness works.
add_library(kelvo_harness_support STATIC
  support/harness.cpp
  support/sink_recorder.cpp
  support/wav16.cpp
  support/xclient.cpp)
target_link_libraries(kelvo_harness_support PUBLIC
  kelvo_test_support kelvo_child_process PkgConfig::X11 PkgConfig::XTST PkgConfig::CAIRO PkgConfig::GL)

# A stand-in for the demo's window: asks for full screen before mapping, paints known colours.
add_executable(harness_window_probe support/window_probe.cpp)
target_link_libraries(harness_window_probe PRIVATE PkgConfig::X11)

kelvo_add_test(test_harness
  SOURCES test_harness.cpp
  LIBS kelvo_harness_support PkgConfig::ALSA
  DEPENDS harness_window_probe
  SERIAL)

# scripts/desktops' look at the demo from a second client under each window manager.
add_executable(desktop_probe support/desktop_probe.cpp)
target_link_libraries(desktop_probe PRIVATE kelvo_harness_support)
