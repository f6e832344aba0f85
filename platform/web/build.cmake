# The web build, included by the top-level CMakeLists.txt under Emscripten's toolchain
# (scripts/web-build): the program's levels up to demo/ and the module tessic.js with
# tessic.wasm, whose custom section .kelvores holds the store of the host's build
# (KELVO_STORE). FreeType, zstd and LZ4 are the static WebAssembly libraries of
# scripts/web-deps (KELVO_WEB_DEPS), found through their pkg-config files.
set(KELVO_STORE "" CACHE FILEPATH "The packed resource store to put into tessic.wasm")
set(KELVO_WEB_DEPS "" CACHE PATH "The prefix of scripts/web-deps")
if(NOT EXISTS "${KELVO_STORE}" OR NOT EXISTS "${KELVO_WEB_DEPS}/lib/pkgconfig")
  message(FATAL_ERROR "the web build needs KELVO_STORE (a host build's store.bin) and KELVO_WEB_DEPS")
endif()
set(ENV{PKG_CONFIG_LIBDIR} "${KELVO_WEB_DEPS}/lib/pkgconfig")
unset(ENV{PKG_CONFIG_PATH})
find_package(PkgConfig REQUIRED)
pkg_check_modules(FREETYPE REQUIRED IMPORTED_TARGET freetype2)
pkg_check_modules(ZSTD REQUIRED IMPORTED_TARGET libzstd)
pkg_check_modules(LZ4 REQUIRED IMPORTED_TARGET liblz4)
find_package(Threads REQUIRED)
# Emscripten's toolchain searches its own sysroot alone, so the libraries' folder is named.
link_directories(${KELVO_WEB_DEPS}/lib)
include_directories(${CMAKE_SOURCE_DIR})
set(KELVO_STORE_FILE ${KELVO_STORE})

# tessic.js and tessic.wasm from the demo's library: the bare module first, then a copy
# with the store appended as the custom section .kelvores (a module's sections may follow
# each other in any number; custom ones are skipped by the browser's compiler).
function(kelvo_web_program library)
  add_executable(tessic-bare ${CMAKE_SOURCE_DIR}/demo/main.cpp)
  target_link_libraries(tessic-bare PRIVATE ${library})
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/web/tessic.wasm ${CMAKE_BINARY_DIR}/web/tessic.js
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/web
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_BINARY_DIR}/tessic-bare.js ${CMAKE_BINARY_DIR}/web/tessic.js
    COMMAND python3 ${CMAKE_SOURCE_DIR}/platform/web/add-section.py ${CMAKE_BINARY_DIR}/tessic-bare.wasm
            .kelvores ${KELVO_STORE} ${CMAKE_BINARY_DIR}/web/tessic.wasm
    COMMAND ${CMAKE_COMMAND} -E copy ${CMAKE_SOURCE_DIR}/platform/web/index.html ${CMAKE_BINARY_DIR}/web/index.html
    DEPENDS tessic-bare ${KELVO_STORE} ${CMAKE_SOURCE_DIR}/platform/web/add-section.py
            ${CMAKE_SOURCE_DIR}/platform/web/index.html
    COMMENT "Putting the resource store into tessic.wasm")
  add_custom_target(tessic ALL DEPENDS ${CMAKE_BINARY_DIR}/web/tessic.wasm)
endfunction()

foreach(level IN ITEMS base platform store audio display text scenes demo)
  add_subdirectory(${level})
endforeach()
