// libkelvo-gllimit.so: makes the GL in use look like one whose textures are smaller, for
// the benchmark and the tests. Preloaded (LD_PRELOAD) into an unchanged program, or
// compiled into a test program, it answers glGetIntegerv(GL_MAX_TEXTURE_SIZE) with
// $KELVO_GL_MAX_TEXTURE_SIZE where that is below the driver's own answer, and ends the
// process with status 99 and a line on stderr when a texture larger than that is uploaded
// (such a GL could not hold it), so a program that ignores the limit cannot pass unseen.
// The variable is read at every call; unset or empty, both calls pass through unchanged.
#include <GL/gl.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/gllimit.hpp"

namespace {

template <class F>
F Real(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (symbol == nullptr) {
    static const char kMessage[] = "gllimit: a GL function is missing\n";
    (void)!write(2, kMessage, sizeof kMessage - 1);
    _exit(kGLLimitExceededStatus);
  }
  return reinterpret_cast<F>(symbol);
}

// The lowered limit, or 0 when none is asked for.
GLint Limit() {
  const char* text = std::getenv(kGLMaxTextureSizeVariable);
  if (text == nullptr || *text == '\0') return 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (*end != '\0' || value <= 0 || value > 1 << 30) {
    const std::string line = std::string("gllimit: bad ") + kGLMaxTextureSizeVariable + "=" + text + "\n";
    (void)!write(2, line.data(), line.size());
    _exit(kGLLimitExceededStatus);
  }
  return static_cast<GLint>(value);
}

}  // namespace

extern "C" {

void glGetIntegerv(GLenum name, GLint* values) {
  static auto real = Real<void (*)(GLenum, GLint*)>("glGetIntegerv");
  real(name, values);
  const GLint limit = Limit();
  if (name == GL_MAX_TEXTURE_SIZE && limit > 0 && limit < values[0]) values[0] = limit;
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const void* pixels) {
  static auto real =
      Real<void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*)>("glTexImage2D");
  const GLint limit = Limit();
  if (limit > 0 && (width > limit || height > limit)) {
    const std::string line = "gllimit: a texture of " + std::to_string(width) + " x " + std::to_string(height) +
                             " pixels was uploaded, above the limit of " + std::to_string(limit) + "\n";
    (void)!write(2, line.data(), line.size());
    _exit(kGLLimitExceededStatus);
  }
  real(target, level, internalFormat, width, height, border, format, type, pixels);
}

}  // extern "C"
