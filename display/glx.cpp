// uGLX: the window, its context and the fixed GL state (see glx.hpp).
#include "display/glx.hpp"

#include <GL/gl.h>

#include <string>

#include "base/fatal.hpp"
#include "platform/loglines.hpp"
#include "platform/system.hpp"

namespace {

// "[<unit>] <text>": the unit is the system's display unit ("uGLX" on Linux).
std::string Line(std::string_view text) { return UnitLine(kDisplayUnit, text); }

}  // namespace

TKelvoDisplay::TKelvoDisplay() {
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  CheckGLError("gl-enables");
  WriteLine(Line("INFO: enables done!"));

  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  CheckGLError("blend-func");
  WriteLine(Line("INFO: blend func done!"));
  WriteLine(kGLSetupDoneLine);
}

void TKelvoDisplay::MapWindow() { Window_.Map(); }

void TKelvoDisplay::UpdateWindowSize() { Window_.Size(WindowWidth, WindowHeight); }

void TKelvoDisplay::SwapBuffers() { Window_.Swap(); }

TWindowEvent TKelvoDisplay::NextEvent() { return Window_.NextEvent(); }
