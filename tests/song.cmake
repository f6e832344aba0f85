# The song: its file format, its determinism, its mastering and the score parser.
kelvo_add_test(test_song
  SOURCES test_song.cpp
  LIBS kelvo_song kelvo_engine kelvo_sync_measure
  DEPENDS kelvo_resources kelvo-gen-song)
