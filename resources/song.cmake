# The song: a small synthesizer (kelvo_song) renders the score in resources/score into
# SONG.wav at build time; kelvo-spectrogram draws a WAV file's spectrogram for review.
# The synthesizer is always optimised, whatever the build type, so that rendering the
# 106 seconds stays fast. Included by resources/CMakeLists.txt (KELVO_SONG_FILE).
set(KELVO_SONG_DIR ${CMAKE_CURRENT_SOURCE_DIR}/song)
set(KELVO_SCORE_DIR ${CMAKE_CURRENT_SOURCE_DIR}/score)

# The synthesizer, the score parser, the loudness meter and the WAV writer; the tests
# link it too.
add_library(kelvo_song STATIC
  ${KELVO_SONG_DIR}/effects.cpp
  ${KELVO_SONG_DIR}/instrument_kinds.cpp
  ${KELVO_SONG_DIR}/loudness.cpp
  ${KELVO_SONG_DIR}/mastering.cpp
  ${KELVO_SONG_DIR}/render.cpp
  ${KELVO_SONG_DIR}/score.cpp
  ${KELVO_SONG_DIR}/voices.cpp
  ${KELVO_SONG_DIR}/wav_file.cpp)
target_compile_options(kelvo_song PRIVATE -O2)
target_link_libraries(kelvo_song PUBLIC kelvo_base Threads::Threads)

add_executable(kelvo-gen-song ${KELVO_SONG_DIR}/main.cpp)
target_compile_options(kelvo-gen-song PRIVATE -O2)
target_link_libraries(kelvo-gen-song PRIVATE kelvo_song)

file(GLOB KELVO_SCORE_FILES CONFIGURE_DEPENDS ${KELVO_SCORE_DIR}/*.score)
add_custom_command(
  OUTPUT ${KELVO_SONG_FILE}
  COMMAND kelvo-gen-song ${KELVO_SONG_FILE} ${KELVO_SCORE_DIR}/song.score
  DEPENDS kelvo-gen-song ${KELVO_SCORE_FILES}
  COMMENT "Rendering the song")

add_executable(kelvo-spectrogram ${KELVO_SONG_DIR}/spectrogram.cpp)
target_compile_options(kelvo-spectrogram PRIVATE -O2)
target_link_libraries(kelvo-spectrogram PRIVATE PkgConfig::CAIRO)
