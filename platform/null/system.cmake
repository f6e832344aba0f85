# The null system's build, included by the top CMakeLists.txt (KELVO_SYSTEM null): the
# template a new system's system.cmake starts from (README.md here). Its tree builds the
# program alone, with the store of the build machine's own build (KELVO_STORE), like a system
# built from another machine; it needs nothing beyond what every system needs (FreeType,
# zstd, LZ4, threads) and a GL header for the renderers' calls.
set(KELVO_SYSTEM_PROGRAM_ONLY ON)

# Called by platform/CMakeLists.txt once kelvo_platform holds the units every system
# implements (clock thread image tempfile window pcm process in platform/<system>/): the
# system's other sources and its libraries. Here the GL that draws nothing, and the
# temporary files in memory and the mappings that are copies in memory
# (platform/memory_file.cpp, platform/memory_image.cpp).
function(kelvo_system_platform target)
  target_sources(${target} PRIVATE ${KELVO_SYSTEM_DIR}/gl.cpp
                 ${CMAKE_SOURCE_DIR}/platform/memory_file.cpp ${CMAKE_SOURCE_DIR}/platform/memory_image.cpp)
endfunction()

# The program: this system's program is the build machine's own kind of executable, an ELF
# file, so the store becomes the section .kelvores of build-null/kelvo as on Linux
# (elf_program.cmake; a PE program is given the section .kelvo by kelvo-res embed).
include(${CMAKE_SOURCE_DIR}/platform/elf_program.cmake)
