// uWebGL: the one GL 1.x upload that WebGL lacks. The pictures are uploaded as BGRA, which
// desktop GL takes and WebGL does not; glTexImage2D here (which the linker takes instead of
// Emscripten's own) turns such rows into RGBA in a copy and hands every upload to
// Emscripten's WebGL call under its other name.
#include <GL/gl.h>

#include <cstdint>
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
  std::vector<std::uint8_t> rgba(count * 4);
  for (std::size_t i = 0; i < count; ++i) {
    rgba[i * 4 + 0] = from[i * 4 + 2];
    rgba[i * 4 + 1] = from[i * 4 + 1];
    rgba[i * 4 + 2] = from[i * 4 + 0];
    rgba[i * 4 + 3] = from[i * 4 + 3];
  }
  emscripten_glTexImage2D(target, level, internalFormat, width, height, border, GL_RGBA, type, rgba.data());
}
