// uWindow on the web: the page's canvas (Module.canvas) with a WebGL context made through
// Emscripten's GLFW layer, behind which Emscripten's legacy GL emulation turns the
// renderers' GL 1.x calls into WebGL (a context made with the HTML5 call alone lacks the
// emulation's state). The canvas covers the page (the page asks for full screen with the
// start control's click); its drawing buffer follows its size on the screen in device
// pixels. The event poll is where the frame loop gives control back to the browser: the
// tasks get their turn, then the loop waits for the browser's next animation frame, which
// also shows what was drawn (the swap itself has nothing to do). Escape, and leaving full
// screen, end the run as Escape does (see window.hpp).
#include "platform/window.hpp"

#include <GLFW/glfw3.h>
#include <emscripten.h>

#include <string>

#include "base/facts.hpp"
#include "base/fatal.hpp"
#include "platform/loglines.hpp"
#include "platform/system.hpp"
#include "platform/web/tasks.hpp"

struct TWindowState {
  GLFWwindow* Window = nullptr;
};

namespace {

std::string Line(std::string_view text) { return "[" + std::string(kDisplayUnit) + "] " + std::string(text); }

// The page's events for the frame loop, queued by listeners on the document: 1 Escape,
// 2 full screen left.
EM_JS(void, kelvo_listen, (), {
  Module.kelvoEvents = [];
  document.addEventListener("keydown", (event) => {
    if (event.key === "Escape") Module.kelvoEvents.push(1);
    else Module.kelvoEvents.push(3);
  });
  document.addEventListener("fullscreenchange", () => {
    if (!document.fullscreenElement) Module.kelvoEvents.push(2);
  });
});
EM_JS(int, kelvo_next_event, (), { return Module.kelvoEvents.length ? Module.kelvoEvents.shift() : 0; });

// The canvas's size on the screen in device pixels; its drawing buffer is made that size.
EM_JS(void, kelvo_canvas_size, (std::int32_t* width, std::int32_t* height), {
  const canvas = Module.canvas;
  const ratio = window.devicePixelRatio || 1;
  const w = Math.max(1, Math.round(canvas.clientWidth * ratio));
  const h = Math.max(1, Math.round(canvas.clientHeight * ratio));
  if (canvas.width !== w) canvas.width = w;
  if (canvas.height !== h) canvas.height = h;
  HEAP32[width >> 2] = w;
  HEAP32[height >> 2] = h;
});

// Gives control to the browser until its next animation frame (Asyncify unwinds and rewinds
// the frame loop around the wait). A page the browser does not show (another tab, a hidden
// or occluded window) gets no animation frames: then a timer wakes the loop, so the song's
// task and the show go on as a native program's do behind other windows.
EM_JS(void, kelvo_wait_for_frame, (), {
  Asyncify.handleSleep((wakeUp) => {
    let timer = 0;
    const frame = requestAnimationFrame(() => {
      clearTimeout(timer);
      wakeUp();
    });
    timer = setTimeout(() => {
      cancelAnimationFrame(frame);
      wakeUp();
    }, 100);
  });
});

EM_JS(void, kelvo_show_canvas, (), {
  Module.canvas.style.visibility = "visible";
  if (Module.kelvoMapped) Module.kelvoMapped();
});

}  // namespace

TPlatformWindow::TPlatformWindow() : State_(std::make_unique<TWindowState>()) {
  if (glfwInit() != GLFW_TRUE) FatalLine(Line("ERROR: cannot set up the canvas"), kExitAssertion);
  std::int32_t width = 0;
  std::int32_t height = 0;
  kelvo_canvas_size(&width, &height);
  // The demo draws RGBA colours into a double-buffered window and nothing more, as its GLX
  // visual asks on Linux: an opaque canvas (the browser composites it without blending it
  // with the page) without depth or stencil buffers, which would be cleared for nothing.
  glfwWindowHint(GLFW_ALPHA_BITS, 0);
  glfwWindowHint(GLFW_DEPTH_BITS, 0);
  glfwWindowHint(GLFW_STENCIL_BITS, 0);
  State_->Window = glfwCreateWindow(width, height, std::string(kWindowTitle).c_str(), nullptr, nullptr);
  if (State_->Window == nullptr) FatalLine(Line("ERROR: cannot create a WebGL context"), kExitAssertion);
  CheckGLError("webgl-create-context");
  WriteLine(Line("INFO: created webgl context"));
  glfwMakeContextCurrent(State_->Window);
  CheckGLError("webgl-make-current");
  WriteLine(Line("INFO: made current"));
  kelvo_listen();
}

TPlatformWindow::~TPlatformWindow() = default;

void TPlatformWindow::Map() {
  if (Mapped_) return;
  kelvo_show_canvas();
  WriteLine(kMappedWindowLine);
  Mapped_ = true;
}

void TPlatformWindow::Size(std::int32_t& width, std::int32_t& height) { kelvo_canvas_size(&width, &height); }

void TPlatformWindow::Swap() {}

TWindowEvent TPlatformWindow::NextEvent() {
  RunTasks();
  kelvo_wait_for_frame();
  switch (kelvo_next_event()) {
    case 0: return TWindowEvent::Nothing;
    case 1: return TWindowEvent::Escape;
    case 2: return TWindowEvent::CloseRequested;
    default: return TWindowEvent::Other;
  }
}

// The browser has no GL utility library: GL errors are named by their codes.
const char* GLUErrorWords(unsigned int, const char*) { return nullptr; }
