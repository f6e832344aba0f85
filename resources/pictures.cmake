# The twenty pictures: kelvo-gen-pictures paints them into ${KELVO_RES_DIR} at build time.
# The generator is always optimised, whatever the build type, so a debug build does not
# spend minutes painting.
file(GLOB KELVO_PICTURE_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/pictures/*.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/pictures/*.hpp)
add_executable(kelvo-gen-pictures ${KELVO_PICTURE_SOURCES})
target_compile_options(kelvo-gen-pictures PRIVATE -O2)
target_link_libraries(kelvo-gen-pictures PRIVATE kelvo_base PkgConfig::CAIRO Threads::Threads)

add_custom_command(
  OUTPUT ${KELVO_PICTURE_FILES}
  COMMAND kelvo-gen-pictures ${KELVO_RES_DIR}
  DEPENDS kelvo-gen-pictures
  COMMENT "Painting the twenty pictures")
