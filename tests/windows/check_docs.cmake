# Fails unless docs/windows.md names every source package version that
# scripts/windows/sources.txt fixes for Windows (that page is where a user reads which versions
# are built).
#   cmake -DSOURCE_DIR=<checkout> -P check_docs.cmake
set(page "${SOURCE_DIR}/docs/windows.md")
file(READ "${page}" text)
file(STRINGS "${SOURCE_DIR}/scripts/windows/sources.txt" lines REGEX "^[a-z]")
if(NOT lines)
  message(FATAL_ERROR "scripts/windows/sources.txt lists no versions")
endif()
set(missing)
foreach(line IN LISTS lines)
  string(REGEX REPLACE "[ \t]+" ";" fields "${line}")
  list(GET fields 1 source)
  list(GET fields 2 version)
  string(FIND "${text}" "${version}" at)
  if(at EQUAL -1)
    list(APPEND missing "${source} ${version}")
  endif()
endforeach()
if(missing)
  list(JOIN missing ", " missing)
  message(FATAL_ERROR "docs/windows.md does not name: ${missing}")
endif()
