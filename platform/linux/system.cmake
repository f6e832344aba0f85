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

# The demo, build/kelvo, with the store inside as an ELF section (elf_program.cmake).
include(${CMAKE_SOURCE_DIR}/platform/elf_program.cmake)
