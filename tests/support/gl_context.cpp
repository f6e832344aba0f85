// Test support: GL context in the harness (see gl_context.hpp).
#include <gtest/gtest.h>

#include "tests/support/gl_context.hpp"

#include <GL/gl.h>
#include <GL/glext.h>

#include "display/glx.hpp"
#include "platform/linux/window.hpp"

#include <chrono>
#include <cstdlib>
#include <thread>

TKelvoDisplay* TestDisplay() {
  static TKelvoDisplay* display = nullptr;
  if (display != nullptr) return display;
  if (std::getenv("KELVO_HEADLESS") == nullptr || std::getenv("DISPLAY") == nullptr) {
    ADD_FAILURE() << "This test draws with GL and needs the headless harness: run it through ./test.sh "
                     "(or scripts/headless ctest ...).";
    return nullptr;
  }
  display = new TKelvoDisplay();
  display->MapWindow();
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    XSync(display->Window().State().Connection, False);
    display->UpdateWindowSize();
    if (display->WindowWidth > 1 && display->WindowHeight > 1) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  EXPECT_GT(display->WindowWidth, 1) << "the window never grew to full screen";
  // The GL drawable keeps the window's creation size (1 x 1) until a buffer swap notices the
  // new size, as the demo's first frames do.
  display->SwapBuffers();
  glFinish();
  return display;
}

void BeginTestFrame() {
  TKelvoDisplay* display = TestDisplay();
  if (display == nullptr) return;
  display->UpdateWindowSize();
  glViewport(0, 0, display->WindowWidth, display->WindowHeight);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

TRGBA ReadPixel(int x, int y) {
  std::uint8_t rgba[4] = {};
  glFinish();
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  return {rgba[0], rgba[1], rgba[2], rgba[3]};
}

TTexture MakeTestTexture(int width, int height, const std::function<TRGBA(int, int)>& colour) {
  TTexture texture;
  texture.Name = "TEX_TEST";
  texture.Width = width;
  texture.Height = height;
  texture.Data = TUInt8DynArray::Uninitialized(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      TRGBA c = colour(x, y);
      std::uint8_t* p = texture.Data.Data() + (static_cast<std::size_t>(y) * width + x) * 4;
      p[0] = c.B;
      p[1] = c.G;
      p[2] = c.R;
      p[3] = c.A;
    }
  }
  glGenTextures(1, &texture.TextureID);
  glBindTexture(GL_TEXTURE_2D, texture.TextureID);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_BGRA, GL_UNSIGNED_BYTE, texture.Data.Data());
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
  return texture;
}
