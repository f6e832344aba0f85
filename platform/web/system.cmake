# The web system's build, included by the top CMakeLists.txt (KELVO_SYSTEM web, the default
# under Emscripten's toolchain: default-for.txt; scripts/web-build makes it in build-web/).
# Its tree builds the program's levels up to demo/ and the page build-web/web/: index.html,
# tessic.js and tessic.wasm, whose custom section .kelvores holds the store of the host's
# build (KELVO_STORE), embedded by the host's kelvo-res (KELVO_RES_TOOL). FreeType, zstd and
# LZ4 are the static WebAssembly libraries of scripts/web-deps (KELVO_WEB_DEPS), found
# through their pkg-config files.
set(KELVO_SYSTEM_PROGRAM_ONLY ON)
set(KELVO_WEB_DEPS "" CACHE PATH "The prefix of scripts/web-deps")
set(KELVO_RES_TOOL "" CACHE FILEPATH "The host's kelvo-res, which embeds the store")
if(NOT EXISTS "${KELVO_WEB_DEPS}/lib/pkgconfig")
  message(FATAL_ERROR "the web build needs KELVO_WEB_DEPS, the prefix of scripts/web-deps")
endif()
# The libraries every system needs are looked up by the top CMakeLists.txt after this file:
# only the WebAssembly ones are to be found.
set(ENV{PKG_CONFIG_LIBDIR} "${KELVO_WEB_DEPS}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
# Emscripten's toolchain searches its own sysroot alone, so the libraries' folder is named.
link_directories(${KELVO_WEB_DEPS}/lib)

# Called by platform/CMakeLists.txt once kelvo_platform holds the units every system
# implements: the cooperative tasks the threads run as, the BGRA upload WebGL lacks
# (gl.cpp), the temporary files and mappings in memory (platform/memory_file.cpp,
# platform/memory_image.cpp), and the link options the program needs from Emscripten: the legacy GL emulation
# behind GLFW's WebGL 2 context (where textures of any size may repeat), Asyncify (the frame
# loop and the tasks give control back to the browser), memory that starts as large as the
# harbour holds (the image's copy, the atlas, the pictures, the song: growing it step by step
# cost Chromium more than the copies themselves, 2.4 s of the start-up at the song's
# temporary file alone, 0.3 s without) and may grow beyond, the exit status
# reported to whoever started main. How main is started (by the page, in a browser) is the
# program's own (kelvo_add_program), so the seam's tests run the same library under Node.
function(kelvo_system_platform target)
  target_sources(${target} PRIVATE ${KELVO_SYSTEM_DIR}/tasks.cpp ${KELVO_SYSTEM_DIR}/gl.cpp
                 ${CMAKE_SOURCE_DIR}/platform/memory_file.cpp ${CMAKE_SOURCE_DIR}/platform/memory_image.cpp)
  target_link_options(${target} PUBLIC
    -sUSE_GLFW=3 -sLEGACY_GL_EMULATION=1 -sGL_UNSAFE_OPTS=0 -sMAX_WEBGL_VERSION=2
    -sASYNCIFY=1 -sASYNCIFY_STACK_SIZE=65536 "-sASYNCIFY_IMPORTS=['kelvo_wait_for_frame']"
    -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2147483648 -sINITIAL_MEMORY=671088640
    -sEXIT_RUNTIME=1)
endfunction()

# The page in build-web/web/: the bare module first (tessic-bare.js, tessic-bare.wasm), then
# tessic.wasm, a copy with the store appended by kelvo-res embed as the custom section
# .kelvores (a module's custom sections may stand anywhere and are skipped by the browser's
# compiler), beside
# tessic.js and index.html. Sets KELVO_PROGRAM to the program's target. Called by
# demo/CMakeLists.txt with the program's sources.
function(kelvo_add_program)
  if(NOT EXISTS "${KELVO_RES_TOOL}")
    message(FATAL_ERROR "the web build needs KELVO_RES_TOOL, the kelvo-res of a host build")
  endif()
  add_executable(tessic-bare ${ARGN})
  target_link_libraries(tessic-bare PRIVATE kelvo_demo)
  # The page calls main once the start control is pressed (index.html).
  target_link_options(tessic-bare PRIVATE -sINVOKE_RUN=0 -sMODULARIZE=0
                      "-sEXPORTED_RUNTIME_METHODS=['callMain']" -sENVIRONMENT=web)
  set(page ${CMAKE_BINARY_DIR}/web)
  add_custom_command(
    OUTPUT ${page}/tessic.wasm ${page}/tessic.js ${page}/index.html
    COMMAND ${CMAKE_COMMAND} -E make_directory ${page}
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/tessic-bare.js ${page}/tessic.js
    COMMAND ${KELVO_RES_TOOL} embed ${CMAKE_BINARY_DIR}/tessic-bare.wasm ${KELVO_STORE_FILE} ${page}/tessic.wasm
    COMMAND ${CMAKE_COMMAND} -E copy ${KELVO_SYSTEM_DIR}/index.html ${page}/index.html
    DEPENDS tessic-bare ${KELVO_STORE_FILE} ${KELVO_RES_TOOL} ${KELVO_SYSTEM_DIR}/index.html
    COMMENT "Putting the resource store into tessic.wasm")
  add_custom_target(tessic ALL DEPENDS ${page}/tessic.wasm)
  set(KELVO_PROGRAM tessic PARENT_SCOPE)
endfunction()
