// uWebGL: the GL 1.x calls that WebGL or Emscripten's emulation of GL 1.x take otherwise
// than desktop GL; the definitions here are what the linker takes instead of Emscripten's
// own, and hand the calls on to Emscripten's under their other names. The pictures are
// uploaded as BGRA, which desktop GL takes and WebGL does not: such rows are turned into
// RGBA in a copy, a word at a time, in one buffer kept for the next picture (the pictures
// are all of one size, so the module's memory does not grow picture by picture).
#include <GL/gl.h>

#include <cstdint>
#include <cstring>
#include <vector>

extern "C" void emscripten_glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                                        GLint border, GLenum format, GLenum type, const void* pixels);

namespace {

constexpr GLenum kBGRA = 0x80E1;

}  // namespace

extern "C" void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                             GLint border, GLenum format, GLenum type, const void* pixels) {
  if (format != kBGRA || type != GL_UNSIGNED_BYTE || pixels == nullptr || width <= 0 || height <= 0) {
    emscripten_glTexImage2D(target, level, internalFormat, width, height, border, format, type, pixels);
    return;
  }
  const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  const auto* from = static_cast<const std::uint8_t*>(pixels);
  static std::vector<std::uint32_t> rgba;
  rgba.resize(count);
  // Little-endian words: BGRA is 0xAARRGGBB, RGBA 0xAABBGGRR; red and blue change places.
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t pixel;
    std::memcpy(&pixel, from + i * 4, 4);
    rgba[i] = (pixel & 0xFF00FF00u) | ((pixel >> 16) & 0xFFu) | ((pixel & 0xFFu) << 16);
  }
  emscripten_glTexImage2D(target, level, internalFormat, width, height, border, GL_RGBA, type, rgba.data());
}

// Desktop GL takes the texture environment's mode as a float too (glTexEnvf(GL_TEXTURE_ENV,
// GL_TEXTURE_ENV_MODE, GL_MODULATE)); the emulation takes the enumerated parameters only
// through glTexEnvi and warns on every other call, so they go there.
extern "C" void emscripten_glTexEnvf(GLenum target, GLenum pname, GLfloat param);
extern "C" void emscripten_glTexEnvi(GLenum target, GLenum pname, GLint param);

extern "C" void glTexEnvf(GLenum target, GLenum pname, GLfloat param) {
  if (pname == GL_RGB_SCALE || pname == GL_ALPHA_SCALE) {
    emscripten_glTexEnvf(target, pname, param);
    return;
  }
  emscripten_glTexEnvi(target, pname, static_cast<GLint>(param));
}
