# The sync check: its arithmetic and kelvo-sync on small films made with ffmpeg, then
# (where scripts/film is present) the sync check on a 10-second film of the demo.
kelvo_add_test(test_sync
  SOURCES test_sync.cpp
  LIBS kelvo_sync_measure kelvo_engine
  DEPENDS kelvo-sync kelvo_resources
  LABELS film)

if(EXISTS ${CMAKE_SOURCE_DIR}/scripts/film)
  add_test(NAME FilmSync.TenSecondFilmInSync
           COMMAND ${CMAKE_SOURCE_DIR}/tests/film_sync.sh ${CMAKE_BINARY_DIR})
  set_tests_properties(FilmSync.TenSecondFilmInSync PROPERTIES
    LABELS film TIMEOUT 900 RESOURCE_LOCK screen RUN_SERIAL TRUE)
else()
  message(STATUS "scripts/film is missing: the sync check on a film of the demo is not registered")
endif()
