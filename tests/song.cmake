# The song: its file format, its determinism, its mastering and the score parser.
kelvo_add_test(test_song
  SOURCES test_song.cpp
  LIBS kelvo_song
  DEPENDS kelvo_resources kelvo-gen-song)
