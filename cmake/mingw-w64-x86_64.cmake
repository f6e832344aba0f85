# Cross-compiling for 64-bit Windows on Debian with mingw-w64's GCC in its posix-threads
# flavour (g++-mingw-w64-x86-64-posix), which std::thread needs. Used for the libraries of
# scripts/windows-deps and for the Windows build tree (scripts/windows-build).
#
# What every program and library built with it gets:
#   - libstdc++, libgcc and winpthreads linked in (-static), so an executable needs only
#     DLLs of Windows itself;
#   - reproducible output: no build paths (the source, build and dependency folders are
#     mapped to fixed names in __FILE__ and debug information), no time stamp in PE headers
#     (--no-insert-timestamp), archives without dates, owners or modes (ar D);
#   - the libraries of KELVO_WINDOWS_DEPS (the prefix scripts/windows-deps prints) found by
#     find_package, find_library and pkg-config, and never the host's;
#   - programs run under Wine (scripts/wine) where CMake or CTest runs them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_SYSTEM_VERSION 10.0)

set(KELVO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KELVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KELVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KELVO_MINGW_TRIPLE}-windres)
# The compilers' "-posix" suffix hides the tools' prefix from CMake's own guess.
foreach(tool AR RANLIB NM OBJCOPY OBJDUMP STRIP LINKER)
  string(TOLOWER ${tool} name)
  if(tool STREQUAL "LINKER")
    set(name ld)
  endif()
  set(CMAKE_${tool} ${KELVO_MINGW_TRIPLE}-${name} CACHE FILEPATH "")
endforeach()

# The dependency prefix comes from the command line or the environment; try_compile
# projects see it too.
if(NOT KELVO_WINDOWS_DEPS AND DEFINED ENV{KELVO_WINDOWS_DEPS})
  set(KELVO_WINDOWS_DEPS "$ENV{KELVO_WINDOWS_DEPS}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KELVO_WINDOWS_DEPS)

set(CMAKE_FIND_ROOT_PATH /usr/${KELVO_MINGW_TRIPLE})
if(KELVO_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH "${KELVO_WINDOWS_DEPS}")
  list(APPEND CMAKE_PREFIX_PATH "${KELVO_WINDOWS_DEPS}")
  # pkg-config sees the prefix's .pc files only.
  set(ENV{PKG_CONFIG_LIBDIR} "${KELVO_WINDOWS_DEPS}/lib/pkgconfig")
else()
  set(ENV{PKG_CONFIG_LIBDIR} "/usr/${KELVO_MINGW_TRIPLE}/lib/pkgconfig")
endif()
unset(ENV{PKG_CONFIG_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# No build paths: each folder a path could come from gets a fixed name.
set(kelvo_maps "-ffile-prefix-map=${CMAKE_SOURCE_DIR}=/source -ffile-prefix-map=${CMAKE_BINARY_DIR}=/build")
if(KELVO_WINDOWS_DEPS)
  string(APPEND kelvo_maps " -ffile-prefix-map=${KELVO_WINDOWS_DEPS}=/deps")
endif()
set(CMAKE_C_FLAGS_INIT "${kelvo_maps}")
set(CMAKE_CXX_FLAGS_INIT "${kelvo_maps}")
unset(kelvo_maps)

set(kelvo_link "-static -Wl,--no-insert-timestamp")
set(CMAKE_EXE_LINKER_FLAGS_INIT "${kelvo_link}")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "${kelvo_link}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "${kelvo_link}")
unset(kelvo_link)

foreach(lang C CXX)
  set(CMAKE_${lang}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${lang}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

# Windows programs that CMake or CTest runs (tests, gtest_discover_tests) run under Wine.
get_filename_component(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine" ABSOLUTE)
