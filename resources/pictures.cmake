# The twenty pictures: kelvo-gen-pictures paints them into ${KELVO_RES_DIR} at build time.
# The painters live in a library that the picture tests link as well. Both are always
# optimised, whatever the build type, so a debug build does not spend minutes painting.
file(GLOB KELVO_PICTURE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/pictures/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/pictures/*.hpp)
list(REMOVE_ITEM KELVO_PICTURE_SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/pictures/main.cpp)
add_library(kelvo_pictures STATIC ${KELVO_PICTURE_SOURCES})
target_compile_options(kelvo_pictures PRIVATE -O2)
target_link_libraries(kelvo_pictures PUBLIC kelvo_base PkgConfig::CAIRO Threads::Threads)

add_executable(kelvo-gen-pictures ${CMAKE_CURRENT_SOURCE_DIR}/pictures/main.cpp)
target_compile_options(kelvo-gen-pictures PRIVATE -O2)
target_link_libraries(kelvo-gen-pictures PRIVATE kelvo_pictures)

add_custom_command(
  OUTPUT ${KELVO_PICTURE_FILES}
  COMMAND kelvo-gen-pictures ${KELVO_RES_DIR}
  DEPENDS kelvo-gen-pictures
  COMMENT "Painting the twenty pictures")
