# The Windows system's build, included by the top CMakeLists.txt (KELVO_SYSTEM windows, with
# the toolchain file cmake/mingw-w64-x86_64.cmake; scripts/windows-build makes it in
# build-windows/, scripts/windows-test runs its tests under Wine). Its tree builds the
# program's levels up to demo/, tessic.exe with the store of the host's build (KELVO_STORE,
# embedded by the host's kelvo-res, KELVO_RES_TOOL), and the Windows tests (tests/windows).
# FreeType, zstd and LZ4 are the static libraries of scripts/windows-deps.
set(KELVO_SYSTEM_PROGRAM_ONLY ON)
set(KELVO_RES_TOOL "" CACHE FILEPATH "The host's kelvo-res, which embeds the store")

# The helpers only this system has and the system libraries, called by
# platform/CMakeLists.txt once kelvo_platform holds the units every system implements.
# opengl32.dll is not imported: opengl32.cpp loads it from System32 when the window is made,
# so the program imports only Known DLLs at load time.
function(kelvo_system_platform target)
  target_sources(${target} PRIVATE
    ${KELVO_SYSTEM_DIR}/wide.cpp
    ${KELVO_SYSTEM_DIR}/opengl32.cpp)
  # ole32: COM for WASAPI; user32 and gdi32: the window and its pixel format; shell32: the
  # command line's words. All Known DLLs.
  target_link_libraries(${target} PUBLIC ole32 user32 gdi32 shell32)
endfunction()

# tessic.exe, a GUI program (no console window of its own; it writes to the console it was
# started from, or where its output was sent) without a symbol table, its store added as the
# PE section .kelvo by the host's kelvo-res. Sets KELVO_PROGRAM to the program's target.
# Called by demo/CMakeLists.txt with the program's sources.
function(kelvo_add_program)
  if(NOT EXISTS "${KELVO_RES_TOOL}")
    message(FATAL_ERROR "the Windows build needs KELVO_RES_TOOL, the kelvo-res of a host build")
  endif()
  add_executable(tessic-bare ${ARGN})
  target_link_libraries(tessic-bare PRIVATE kelvo_demo)
  target_link_options(tessic-bare PRIVATE -mwindows -s)
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/tessic.exe
    COMMAND ${KELVO_RES_TOOL} embed $<TARGET_FILE:tessic-bare> ${KELVO_STORE_FILE} ${CMAKE_BINARY_DIR}/tessic.exe
    DEPENDS tessic-bare ${KELVO_STORE_FILE} ${KELVO_RES_TOOL}
    COMMENT "Embedding the resource store into tessic.exe")
  add_custom_target(tessic ALL DEPENDS ${CMAKE_BINARY_DIR}/tessic.exe)
  set(KELVO_PROGRAM tessic PARENT_SCOPE)
endfunction()
