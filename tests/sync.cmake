# The sync check: its arithmetic and kelvo-sync on small films made with ffmpeg, then
# the sync check on a 10-second film of the demo.
kelvo_add_test(test_sync
  SOURCES test_sync.cpp
  LIBS kelvo_sync_measure kelvo_engine
  DEPENDS kelvo-sync kelvo_resources
  LABELS film)

# The film itself comes from the fixture of tests/film.cmake (normal build only).
if(NOT KELVO_SANITIZE)
  add_test(NAME FilmSync.TenSecondFilmInSync
           COMMAND ${CMAKE_SOURCE_DIR}/tests/film_sync.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(FilmSync.TenSecondFilmInSync PROPERTIES
    LABELS film TIMEOUT 300 FIXTURES_REQUIRED films)
endif()
