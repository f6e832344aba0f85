# The film tool: the virtual 60 Hz clock's arithmetic, and two 10-second films of the demo
# made with scripts/film (the fixture film_make), which test_film then examines.
kelvo_add_test(test_vclock
  SOURCES film/test_vclock.cpp
  LIBS kelvo_vclock
  LABELS film)

# Films are made of the normal build only: a preloaded library cannot go before the
# sanitizer runtime that the sanitized demo needs first, and the film would take too long.
if(NOT KELVO_SANITIZE)
  add_test(NAME film_make
    COMMAND bash -c "rm -rf \"$1\" && mkdir -p \"$1\" && \"$2\" --seconds 10 --build \"$3\" \"$1/first.mp4\" && \"$2\" --seconds 10 --build \"$3\" \"$1/second.mp4\""
            film_make ${CMAKE_BINARY_DIR}/film-tests ${CMAKE_SOURCE_DIR}/scripts/film ${CMAKE_BINARY_DIR})
  # Alone: each film runs the demo under a private X server and keeps both cores busy.
  set_tests_properties(film_make PROPERTIES FIXTURES_SETUP films LABELS film TIMEOUT 900
    RESOURCE_LOCK screen RUN_SERIAL TRUE)

  kelvo_add_test(test_film
    SOURCES film/test_film.cpp
    LIBS kelvo_harness_support
    DEPENDS kelvo kelvo-res kelvo-film
    LABELS film
    PROPERTIES FIXTURES_REQUIRED films)
endif()
