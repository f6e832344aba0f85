# The Windows system's own build pieces, included by platform/CMakeLists.txt after it has
# defined kelvo_platform with the units every system implements (KELVO_SYSTEM windows):
# the helpers only this system has and the system libraries. opengl32.dll is not imported:
# opengl32.cpp loads it from System32 when the window is made, so the program imports only
# Known DLLs at load time.
target_sources(kelvo_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/wide.cpp
  ${CMAKE_CURRENT_LIST_DIR}/opengl32.cpp)
# ole32: COM for WASAPI; user32 and gdi32: the window and its pixel format; shell32: the
# command line's words. All Known DLLs.
target_link_libraries(kelvo_platform PUBLIC ole32 user32 gdi32 shell32)
