# The Linux system's build, included by the top CMakeLists.txt (KELVO_SYSTEM linux): its
# packages, its part of kelvo_platform and the store's embedding into the program.
#
# The window and the sound: Xlib, XFixes, GLX and ALSA. The host's build also runs the
# generators, the tools, the tests and the benchmark, which use X and GL too.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
pkg_check_modules(XFIXES REQUIRED IMPORTED_TARGET xfixes)
pkg_check_modules(GL REQUIRED IMPORTED_TARGET gl)
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)

# Called by platform/CMakeLists.txt once kelvo_platform holds the units every system
# implements.
function(kelvo_system_platform target)
  target_link_libraries(${target} PUBLIC PkgConfig::GL PRIVATE PkgConfig::X11 PkgConfig::XFIXES PkgConfig::ALSA
                        ${CMAKE_DL_LIBS})
endfunction()

# The demo, kelvo: the bare program (sources linked with kelvo_demo) first, then the store
# added as a non-allocated ELF section, so every byte the demo shows and plays travels inside
# build/kelvo. Sets KELVO_PROGRAM to the program's target. Called by demo/CMakeLists.txt.
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
