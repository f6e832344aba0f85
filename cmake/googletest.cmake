# GoogleTest built from Debian's own sources of it (package googletest) for a tree whose
# compiler is not the build machine's (the Windows and web trees), with the target names of
# the build machine's GoogleTest: GTest::gtest, GTest::gtest_main, GTest::gmock. Its threads,
# where it would use any, are left to the system.
set(KELVO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest's sources (package googletest)")
if(NOT EXISTS "${KELVO_GOOGLETEST_SOURCE}/CMakeLists.txt")
  message(FATAL_ERROR "no GoogleTest sources in ${KELVO_GOOGLETEST_SOURCE}; run scripts/install-deps for this tree")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
add_subdirectory(${KELVO_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
