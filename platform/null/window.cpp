// uWindow of the null system: a window without a display. It is "created" at a fixed size,
// shows nothing when mapped or swapped, and has no events: the demo runs to its own end. Its
// GL is the null one beside it (gl.cpp), which draws nothing (see window.hpp).
#include "platform/window.hpp"

#include <string>

#include "base/facts.hpp"
#include "base/fatal.hpp"
#include "platform/loglines.hpp"
#include "platform/system.hpp"

namespace {

// The size the demo draws for: a common full-HD screen.
constexpr std::int32_t kWidth = kDesignWidthPixels;
constexpr std::int32_t kHeight = kDesignHeightPixels;

std::string Line(std::string_view text) { return UnitLine(kDisplayUnit, text); }

}  // namespace

struct TWindowState {
  std::int32_t Width = kWidth;
  std::int32_t Height = kHeight;
};

TPlatformWindow::TPlatformWindow() : State_(std::make_unique<TWindowState>()) {
  WriteLine(Line("INFO: window without a display, " + std::to_string(kWidth) + " x " + std::to_string(kHeight)));
  CheckGLError("null-make-current");
}

TPlatformWindow::~TPlatformWindow() = default;

void TPlatformWindow::Map() {
  if (Mapped_) return;
  Mapped_ = true;
  WriteLine(kMappedWindowLine);
}

void TPlatformWindow::Size(std::int32_t& width, std::int32_t& height) {
  width = State_->Width;
  height = State_->Height;
}

void TPlatformWindow::Swap() {}

TWindowEvent TPlatformWindow::NextEvent() { return TWindowEvent::Nothing; }

// No GL utility library: errors are worded by their codes' names.
const char* GLUErrorWords(unsigned int, const char*) { return nullptr; }
