# Audio: the WAV reader and the player's write loop and worker (no device needed).
# The test programs live in a folder of their own: the reader's temporary song file goes
# beside the running executable, and there it cannot meet the demo's own.
kelvo_add_test(test_wav
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_wav.cpp
  LIBS kelvo_audio
  DEPENDS kelvo_resources)
kelvo_add_test(test_alsa
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_alsa.cpp
  LIBS kelvo_audio)
set_target_properties(test_wav test_alsa PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/audio-tests)

# The player against real devices and the demo's sound, under scripts/headless.
kelvo_add_test(test_audio_device
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_audio_device.cpp
  LIBS kelvo_audio kelvo_harness_support
  DEPENDS kelvo
  SERIAL)
