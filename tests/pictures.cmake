# The generated pictures (formats, determinism, content) and the generator's tools.
kelvo_add_test(test_pictures
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_pictures.cpp
  LIBS kelvo_pictures
  DEPENDS kelvo_resources kelvo-gen-pictures)
