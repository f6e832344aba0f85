// The interface of libkelvo-gllimit.so (gllimit.cpp): the variable that lowers the largest
// texture side GL reports, and the status a process ends with when it uploads a larger one.
#pragma once

inline constexpr const char* kGLMaxTextureSizeVariable = "KELVO_GL_MAX_TEXTURE_SIZE";
inline constexpr int kGLLimitExceededStatus = 99;
