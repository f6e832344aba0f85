# The program of a system whose executables are ELF files, the build machine's own kind
# (Linux, and the null system built on it), included by those systems' system.cmake for
# their kelvo_add_program(sources...): kelvo-bare (the sources linked with kelvo_demo), then
# kelvo, with the store (KELVO_STORE_FILE) added by objcopy as the non-allocated,
# page-aligned section KELVO_STORE_SECTION that the store reader finds, so every byte the
# demo shows and plays travels inside the program's file. Sets KELVO_PROGRAM to the
# program's target. Called by demo/CMakeLists.txt.
function(kelvo_add_program)
  add_executable(kelvo-bare ${ARGN})
  target_link_libraries(kelvo-bare PRIVATE kelvo_demo)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/kelvo
    COMMAND ${CMAKE_OBJCOPY} --add-section ${KELVO_STORE_SECTION}=${KELVO_STORE_FILE}
            --set-section-flags ${KELVO_STORE_SECTION}=noload,readonly
            --set-section-alignment ${KELVO_STORE_SECTION}=4096
            $<TARGET_FILE:kelvo-bare> ${CMAKE_BINARY_DIR}/kelvo
    DEPENDS kelvo-bare ${KELVO_STORE_FILE}
    COMMENT "Embedding the resource store into kelvo")
  add_custom_target(kelvo ALL DEPENDS ${CMAKE_BINARY_DIR}/kelvo)
  set(KELVO_PROGRAM kelvo PARENT_SCOPE)
endfunction()
