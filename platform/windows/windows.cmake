# The Windows system's own build pieces, included by platform/CMakeLists.txt after it has
# defined kelvo_platform with the units every system implements (KELVO_SYSTEM windows):
# the helpers only this system has, the system libraries, and opengl32.dll as a delay-load
# import built from opengl32.def, so the program imports only Known DLLs at load time and
# opengl32.dll is loaded at the first GL call, from System32 (PrepareProcess limits DLL
# loading to it before that). Targets that make GL calls link kelvo_opengl32.
target_sources(kelvo_platform PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/wide.cpp)
# ole32: COM for WASAPI; user32 and gdi32: the window and its pixel format. All Known DLLs.
target_link_libraries(kelvo_platform PUBLIC ole32 user32 gdi32)

if(NOT CMAKE_DLLTOOL)
  find_program(CMAKE_DLLTOOL NAMES x86_64-w64-mingw32-dlltool REQUIRED)
endif()
# Built in its own folder under a relative name: dlltool names its members and symbols
# after the output path, which must not carry the build folder into the program.
set(kelvo_delay_dir ${CMAKE_CURRENT_BINARY_DIR}/delay-imports)
file(MAKE_DIRECTORY ${kelvo_delay_dir})
add_custom_command(
  OUTPUT ${kelvo_delay_dir}/libopengl32-delay.a
  COMMAND ${CMAKE_DLLTOOL} --input-def ${CMAKE_CURRENT_LIST_DIR}/opengl32.def
          --output-delaylib libopengl32-delay.a --dllname opengl32.dll
  WORKING_DIRECTORY ${kelvo_delay_dir}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/opengl32.def
  COMMENT "Delay-load import library of opengl32.dll")
add_custom_target(kelvo_opengl32_delay DEPENDS ${kelvo_delay_dir}/libopengl32-delay.a)
add_library(kelvo_opengl32 INTERFACE)
add_dependencies(kelvo_opengl32 kelvo_opengl32_delay)
# delayimp: mingw-w64's __delayLoadHelper2, which loads the DLL at the first call.
target_link_libraries(kelvo_opengl32 INTERFACE ${kelvo_delay_dir}/libopengl32-delay.a delayimp)
target_link_libraries(kelvo_platform PUBLIC kelvo_opengl32)
