# The generated pictures: formats, determinism and content.
kelvo_add_test(test_pictures
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/test_pictures.cpp
  DEPENDS kelvo_resources kelvo-gen-pictures)
