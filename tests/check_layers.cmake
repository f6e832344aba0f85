# Fails when a source file includes a header from a folder above its own. The folders are
# given lowest first; a file in one of them may include from its own folder and the
# folders before it, and from no other folder of the project.
#   cmake -DSOURCE_DIR=DIR "-DLEVELS=base;store;..." -P check_layers.cmake
cmake_minimum_required(VERSION 3.25)
if(NOT SOURCE_DIR OR NOT LEVELS)
  message(FATAL_ERROR "usage: cmake -DSOURCE_DIR=DIR -DLEVELS=a;b;... -P check_layers.cmake")
endif()

set(upward "")
set(files_read 0)
list(LENGTH LEVELS level_count)
foreach(level IN LISTS LEVELS)
  list(FIND LEVELS ${level} own)
  file(GLOB_RECURSE sources LIST_DIRECTORIES false
    ${SOURCE_DIR}/${level}/*.cpp ${SOURCE_DIR}/${level}/*.hpp ${SOURCE_DIR}/${level}/*.h)
  foreach(source IN LISTS sources)
    math(EXPR files_read "${files_read} + 1")
    file(STRINGS ${source} includes REGEX "^[ \t]*#[ \t]*include[ \t]*\"[^\"/]+/")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]*\"([^\"/]+)/.*" "\\1" folder "${line}")
      list(FIND LEVELS ${folder} theirs)
      if(theirs GREATER own)
        file(RELATIVE_PATH where ${SOURCE_DIR} ${source})
        list(APPEND upward "${where} (${level}) includes from ${folder}/, a level above it")
      endif()
    endforeach()
  endforeach()
endforeach()

if(files_read EQUAL 0)
  message(FATAL_ERROR "no source files under ${SOURCE_DIR} in ${LEVELS}")
endif()
if(upward)
  list(JOIN upward "\n  " text)
  message(FATAL_ERROR "includes that go upward:\n  ${text}")
endif()
message(STATUS "${files_read} files, every include goes to the same level or below")
