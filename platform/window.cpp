// uWindow: the wording of GL errors, the same on every system (see window.hpp); only the
// GL utility library's words come from the system.
#include "platform/window.hpp"

#include <GL/gl.h>

#include <cstdio>

#include "base/fatal.hpp"

namespace {

// The names of the error codes that glGetError may give, for machines without GLU.
const char* GLErrorName(unsigned int error) {
  switch (error) {
    case 0x0500: return "GL_INVALID_ENUM";
    case 0x0501: return "GL_INVALID_VALUE";
    case 0x0502: return "GL_INVALID_OPERATION";
    case 0x0503: return "GL_STACK_OVERFLOW";
    case 0x0504: return "GL_STACK_UNDERFLOW";
    case 0x0505: return "GL_OUT_OF_MEMORY";
    case 0x0506: return "GL_INVALID_FRAMEBUFFER_OPERATION";
    case 0x0507: return "GL_CONTEXT_LOST";
    case 0x8031: return "GL_TABLE_TOO_LARGE";
    default: return nullptr;
  }
}

}  // namespace

std::string GLErrorLine(std::string_view label, unsigned int error, const char* gluLibrary) {
  std::string line(label);
  line += ": GL ERROR: ";
  // GLU has words only for the codes it knows; it gives none for the others.
  if (const char* words = GLUErrorWords(error, gluLibrary); words != nullptr) {
    line += words;
  } else if (const char* name = GLErrorName(error); name != nullptr) {
    line += name;
  } else {
    char number[32];
    std::snprintf(number, sizeof number, "unknown error 0x%04X", error);
    line += number;
  }
  return line;
}

void CheckGLError(std::string_view label) {
  const GLenum error = glGetError();
  if (error == GL_NO_ERROR) return;
  FatalLine(GLErrorLine(label, error), kExitGLError);
}
