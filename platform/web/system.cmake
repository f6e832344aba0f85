# The web system's own build pieces, included by platform/CMakeLists.txt after it has defined
# kelvo_platform with the units every system implements (KELVO_SYSTEM web): the cooperative
# tasks the threads run as, the BGRA upload WebGL lacks (gl.cpp), and the link options the
# program needs from Emscripten: the legacy GL emulation behind GLFW's WebGL 2 context
# (where textures of any size may repeat), Asyncify (the frame loop and the tasks give
# control back to the browser), memory that grows, the exit status reported to the page.
target_sources(kelvo_platform PRIVATE ${CMAKE_CURRENT_LIST_DIR}/tasks.cpp ${CMAKE_CURRENT_LIST_DIR}/gl.cpp)
target_link_options(kelvo_platform PUBLIC
  -sUSE_GLFW=3 -sLEGACY_GL_EMULATION=1 -sGL_UNSAFE_OPTS=0 -sMAX_WEBGL_VERSION=2
  -sASYNCIFY=1 -sASYNCIFY_STACK_SIZE=65536 "-sASYNCIFY_IMPORTS=['kelvo_wait_for_frame']"
  -sALLOW_MEMORY_GROWTH=1 -sMAXIMUM_MEMORY=2147483648 -sINITIAL_MEMORY=268435456
  -sEXIT_RUNTIME=1 -sINVOKE_RUN=0 -sMODULARIZE=0
  "-sEXPORTED_RUNTIME_METHODS=['callMain']" -sENVIRONMENT=web)
