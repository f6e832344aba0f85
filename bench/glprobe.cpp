// libkelvo-glprobe.so: a measuring shim loaded with LD_PRELOAD into kelvo and into the floor
// program alike, so frames are measured from outside without changing either program.
//  - KELVO_BENCH_SWAP_LOG=<file>: after every glXSwapBuffers, appends the CLOCK_MONOTONIC
//    time in nanoseconds (8 bytes, native order) to the file, one write per frame.
//  - KELVO_BENCH_WRAP_GLYPHS=1: every quad drawn with the font atlas bound (the texture
//    uploaded 4096 pixels wide or more) is moved horizontally, whole, so that it lies inside
//    the 1920 design units of the screen: all glyph quads of the greeting are drawn on
//    screen at their full size, in both programs the same way.
#include <GL/gl.h>
#include <GL/glx.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/facts.hpp"
#include "bench/measure.hpp"

namespace {

template <class F>
F Real(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (symbol == nullptr) {
    static const char kMessage[] = "glprobe: a GL function is missing\n";
    (void)!write(2, kMessage, sizeof kMessage - 1);
    _exit(99);
  }
  return reinterpret_cast<F>(symbol);
}

int SwapLog() {
  static int fd = [] {
    const char* path = std::getenv("KELVO_BENCH_SWAP_LOG");
    return path == nullptr ? -1 : open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  }();
  return fd;
}

bool Wrapping() {
  static bool on = [] {
    const char* value = std::getenv("KELVO_BENCH_WRAP_GLYPHS");
    return value != nullptr && std::strcmp(value, "1") == 0;
  }();
  return on;
}

// Only the main thread draws, in both programs.
GLuint BoundTexture = 0;
GLuint AtlasTexture = 0;
bool InQuads = false;
int Pending = 0;
float TexCoords[4][2];
float Vertices[4][2];

constexpr float kScreenWidth = static_cast<float>(kDesignWidthPixels);
constexpr GLsizei kAtlasMinimumWidth = 4096;

bool Buffering() { return InQuads && Wrapping() && AtlasTexture != 0 && BoundTexture == AtlasTexture; }

}  // namespace

extern "C" {

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
  static auto real = Real<void (*)(Display*, GLXDrawable)>("glXSwapBuffers");
  real(display, drawable);
  if (int fd = SwapLog(); fd >= 0) {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const std::uint64_t ns = static_cast<std::uint64_t>(now.tv_sec) * 1000000000u + static_cast<std::uint64_t>(now.tv_nsec);
    (void)!write(fd, &ns, sizeof ns);
  }
}

void glBindTexture(GLenum target, GLuint texture) {
  static auto real = Real<void (*)(GLenum, GLuint)>("glBindTexture");
  if (target == GL_TEXTURE_2D) BoundTexture = texture;
  real(target, texture);
}

void glTexImage2D(GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height, GLint border,
                  GLenum format, GLenum type, const void* pixels) {
  static auto real =
      Real<void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*)>("glTexImage2D");
  if (target == GL_TEXTURE_2D && level == 0 && width >= kAtlasMinimumWidth) AtlasTexture = BoundTexture;
  real(target, level, internalFormat, width, height, border, format, type, pixels);
}

void glBegin(GLenum mode) {
  static auto real = Real<void (*)(GLenum)>("glBegin");
  InQuads = mode == GL_QUADS;
  Pending = 0;
  real(mode);
}

void glTexCoord2f(GLfloat s, GLfloat t) {
  static auto real = Real<void (*)(GLfloat, GLfloat)>("glTexCoord2f");
  if (Buffering() && Pending < 4) {
    TexCoords[Pending][0] = s;
    TexCoords[Pending][1] = t;
    return;
  }
  real(s, t);
}

void glVertex2f(GLfloat x, GLfloat y) {
  static auto real = Real<void (*)(GLfloat, GLfloat)>("glVertex2f");
  if (Buffering() && Pending < 4) {
    Vertices[Pending][0] = x;
    Vertices[Pending][1] = y;
    ++Pending;
    return;
  }
  real(x, y);
}

void glEnd() {
  static auto realEnd = Real<void (*)()>("glEnd");
  static auto realTexCoord = Real<void (*)(GLfloat, GLfloat)>("glTexCoord2f");
  static auto realVertex = Real<void (*)(GLfloat, GLfloat)>("glVertex2f");
  if (Buffering() && Pending > 0) {
    float left = Vertices[0][0], right = Vertices[0][0];
    for (int i = 1; i < Pending; ++i) {
      left = std::fmin(left, Vertices[i][0]);
      right = std::fmax(right, Vertices[i][0]);
    }
    const float shift = WrapShift(left, right, kScreenWidth);
    for (int i = 0; i < Pending; ++i) {
      realTexCoord(TexCoords[i][0], TexCoords[i][1]);
      realVertex(Vertices[i][0] + shift, Vertices[i][1]);
    }
  }
  InQuads = false;
  Pending = 0;
  realEnd();
}

}  // extern "C"
