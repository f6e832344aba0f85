# The null system's build, included by the top CMakeLists.txt (KELVO_SYSTEM null): the
# template a new system's system.cmake starts from (README.md here). Its tree builds the
# program alone, with the store of the build machine's own build (KELVO_STORE), like a system
# built from another machine; it needs nothing beyond what every system needs (FreeType,
# zstd, LZ4, threads) and a GL header for the renderers' calls.
set(KELVO_SYSTEM_PROGRAM_ONLY ON)

# Called by platform/CMakeLists.txt once kelvo_platform holds the units every system
# implements (clock thread image tempfile window pcm process in platform/<system>/): the
# system's other sources and its libraries. Here the GL that draws nothing.
function(kelvo_system_platform target)
  target_sources(${target} PRIVATE ${KELVO_SYSTEM_DIR}/gl.cpp)
endfunction()

# The program: the bare program (the sources given, linked with kelvo_demo), then the store
# (KELVO_STORE_FILE) embedded where the store reader finds it. This system's program is the
# build machine's own kind of executable, an ELF file, so the store becomes the section
# .kelvores as on Linux (a PE program is given the section .kelvo by kelvo-res embed). Sets
# KELVO_PROGRAM to the program's target. Called by demo/CMakeLists.txt.
function(kelvo_add_program)
  add_executable(kelvo-bare ${ARGN})
  target_link_libraries(kelvo-bare PRIVATE kelvo_demo)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/kelvo
    COMMAND ${CMAKE_OBJCOPY} --add-section ${KELVO_STORE_SECTION}=${KELVO_STORE_FILE}
            --set-section-flags ${KELVO_STORE_SECTION}=noload,readonly
            $<TARGET_FILE:kelvo-bare> ${CMAKE_BINARY_DIR}/kelvo
    DEPENDS kelvo-bare ${KELVO_STORE_FILE}
    COMMENT "Embedding the resource store into kelvo")
  add_custom_target(kelvo ALL DEPENDS ${CMAKE_BINARY_DIR}/kelvo)
  set(KELVO_PROGRAM kelvo PARENT_SCOPE)
endfunction()
