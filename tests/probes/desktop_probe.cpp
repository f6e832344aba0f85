// desktop_probe: looks at a running demo from a second X client, the way scripts/desktops
// reports on it under a window manager: finds the window of the given process, waits until
// it covers the screen, prints what the window manager sees of it, checks that the pointer
// is not drawn over it and finally presses Escape. One "probe: KEY VALUE" line per finding;
// the exit status is 0 when the window covered the screen and Escape was sent, else 1.
//
//   desktop_probe --pid PID [--framebuffer XWD-FILE] [--timeout SECONDS]
//
// --framebuffer names the X server's screen as Xvfb -fbdir keeps it: the software pointer
// is drawn into that memory, so a pointer that shows changes it where the pointer is.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/xclient.hpp"

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

void Report(const std::string& key, const std::string& value) {
  std::printf("probe: %s %s\n", key.c_str(), value.c_str());
  std::fflush(stdout);
}

// The viewable windows below the root to a depth of three (window managers put the client
// into frames of their own), each with its _NET_WM_PID.
void Collect(Display* display, Window window, int depth, std::vector<Window>& out) {
  Window root = 0, parent = 0;
  Window* children = nullptr;
  unsigned count = 0;
  if (XQueryTree(display, window, &root, &parent, &children, &count) == 0) return;
  for (unsigned i = 0; i < count; ++i) {
    out.push_back(children[i]);
    if (depth > 1) Collect(display, children[i], depth - 1, out);
  }
  if (children != nullptr) XFree(children);
}

int IgnoreErrors(Display*, XErrorEvent*) { return 0; }

std::string Text(const std::optional<TWindowPropertyValue>& value) {
  if (!value) return "(none)";
  std::string text;
  for (char c : value->Bytes) text += c == '\0' ? ',' : c;
  if (!text.empty() && text.back() == ',') text.pop_back();
  return "\"" + text + "\"";
}

// The screen file of Xvfb -fbdir: an XWD header (big-endian fields), the colour map, then
// the pixels as the server keeps them.
class TFramebuffer {
 public:
  explicit TFramebuffer(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return;
    struct stat info {};
    if (fstat(fd, &info) == 0 && info.st_size > 100) {
      void* map = mmap(nullptr, static_cast<std::size_t>(info.st_size), PROT_READ, MAP_SHARED, fd, 0);
      if (map != MAP_FAILED) {
        Data_ = static_cast<const std::uint8_t*>(map);
        Size_ = static_cast<std::size_t>(info.st_size);
      }
    }
    close(fd);
    if (Data_ == nullptr) return;
    const std::uint32_t headerSize = Field(0), bitsPerPixel = Field(11), colours = Field(19);
    BytesPerLine_ = Field(12);
    Width_ = Field(4);
    Height_ = Field(5);
    Offset_ = headerSize + colours * 12;
    Valid_ = bitsPerPixel == 32 && Offset_ + static_cast<std::size_t>(BytesPerLine_) * Height_ <= Size_;
  }
  ~TFramebuffer() {
    if (Data_ != nullptr) munmap(const_cast<std::uint8_t*>(Data_), Size_);
  }
  bool Valid() const { return Valid_; }
  // The pixel's colour bits (without the unused top byte).
  std::uint32_t Pixel(int x, int y) const {
    std::uint32_t value;
    std::memcpy(&value, Data_ + Offset_ + static_cast<std::size_t>(y) * BytesPerLine_ + static_cast<std::size_t>(x) * 4,
                4);
    return value & 0xFFFFFF;
  }
  std::uint32_t Width() const { return Width_; }
  std::uint32_t Height() const { return Height_; }

 private:
  std::uint32_t Field(int index) const {
    const std::uint8_t* p = Data_ + index * 4;
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
  }
  const std::uint8_t* Data_ = nullptr;
  std::size_t Size_ = 0;
  std::size_t Offset_ = 0;
  std::uint32_t BytesPerLine_ = 0, Width_ = 0, Height_ = 0;
  bool Valid_ = false;
};

// Reads a square of the framebuffer with the pointer at (x, y), then with the pointer far
// away, then at (x, y) again. A pointer that is drawn makes the middle read differ from the
// other two; the demo keeps drawing, so only rounds where the first and the last read agree
// count. Returns "hidden", "shown" or why it cannot tell.
std::string PointerState(Display* display, const std::string& framebufferPath, int x, int y) {
  TFramebuffer framebuffer(framebufferPath);
  if (!framebuffer.Valid()) return "unknown (no readable framebuffer)";
  constexpr int kSide = 32;
  auto read = [&] {
    std::vector<std::uint32_t> pixels;
    for (int dy = 0; dy < kSide; ++dy)
      for (int dx = 0; dx < kSide; ++dx) pixels.push_back(framebuffer.Pixel(x - 4 + dx, y - 4 + dy));
    return pixels;
  };
  auto warp = [&](int toX, int toY) {
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, toX, toY);
    XSync(display, False);
    std::this_thread::sleep_for(40ms);
  };
  int shown = 0, hidden = 0;
  for (int attempt = 0; attempt < 60 && shown + hidden < 3; ++attempt) {
    warp(x, y);
    const std::vector<std::uint32_t> first = read();
    warp(x > 400 ? x - 300 : x + 300, y > 400 ? y - 300 : y + 300);
    const std::vector<std::uint32_t> away = read();
    warp(x, y);
    const std::vector<std::uint32_t> last = read();
    if (first != last) continue;
    (first != away ? shown : hidden)++;
  }
  if (shown + hidden == 0) return "unknown (the screen never held still)";
  return shown > hidden ? "shown" : "hidden";
}

// The demo's window: the viewable one whose _NET_WM_PID is the process, once it covers
// the whole screen (or when the time is up, as it is then).
struct TDemoWindow {
  std::optional<Window> Id;
  int X = 0, Y = 0, Width = 0, Height = 0;
  bool Covers = false;
};

TDemoWindow FindDemoWindow(TXClient& client, long pid, double timeout, int screenWidth, int screenHeight) {
  Display* display = client.Connection();
  TDemoWindow found;
  const auto deadline = TClock::now() + std::chrono::duration<double>(timeout);
  while (!found.Covers && TClock::now() < deadline) {
    std::vector<Window> windows;
    Collect(display, DefaultRootWindow(display), 3, windows);
    for (Window candidate : windows) {
      std::optional<TWindowPropertyValue> owner = client.Property(candidate, "_NET_WM_PID");
      if (!owner || owner->Numbers.empty() || owner->Numbers.front() != pid) continue;
      XWindowAttributes attributes{};
      if (XGetWindowAttributes(display, candidate, &attributes) == 0 || attributes.map_state != IsViewable) continue;
      Window child = 0;
      XTranslateCoordinates(display, candidate, DefaultRootWindow(display), 0, 0, &found.X, &found.Y, &child);
      found.Id = candidate;
      found.Width = attributes.width;
      found.Height = attributes.height;
      found.Covers = found.X == 0 && found.Y == 0 && found.Width == screenWidth && found.Height == screenHeight;
      break;
    }
    if (!found.Covers) std::this_thread::sleep_for(50ms);
  }
  return found;
}

// What the window manager sees: its name, whether it lists the window.
void ReportWindowManager(TXClient& client, Window window) {
  Display* display = client.Connection();
  if (client.WindowManagerRunning()) {
    std::optional<TWindowPropertyValue> check = client.Property(DefaultRootWindow(display), "_NET_SUPPORTING_WM_CHECK");
    std::optional<TWindowPropertyValue> wmName =
        check && !check->Numbers.empty()
            ? client.Property(static_cast<TXWindow>(check->Numbers.front()), "_NET_WM_NAME")
            : std::nullopt;
    Report("window-manager", Text(wmName));
    std::optional<TWindowPropertyValue> clients = client.Property(DefaultRootWindow(display), "_NET_CLIENT_LIST");
    bool listed = false;
    if (clients)
      for (long id : clients->Numbers) listed = listed || static_cast<Window>(id) == window;
    Report("client-list", clients ? (listed ? "lists the window" : "does NOT list the window") : "(none)");
  } else {
    Report("window-manager", "(none)");
  }
}

}  // namespace

int main(int argc, char** argv) {
  long pid = 0;
  std::string framebuffer;
  double timeout = 30;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--pid") pid = std::stol(argv[i + 1]);
    else if (option == "--framebuffer") framebuffer = argv[i + 1];
    else if (option == "--timeout") timeout = std::stod(argv[i + 1]);
  }
  if (pid <= 0) {
    std::fprintf(stderr, "usage: %s --pid PID [--framebuffer XWD-FILE] [--timeout SECONDS]\n", argv[0]);
    return 2;
  }
  TXClient client;
  Display* display = client.Connection();
  XSetErrorHandler(IgnoreErrors);
  const int screenWidth = DisplayWidth(display, DefaultScreen(display));
  const int screenHeight = DisplayHeight(display, DefaultScreen(display));
  Report("screen", std::to_string(screenWidth) + "x" + std::to_string(screenHeight));

  const TDemoWindow found = FindDemoWindow(client, pid, timeout, screenWidth, screenHeight);
  const std::optional<Window> window = found.Id;
  const int x = found.X, y = found.Y, width = found.Width, height = found.Height;
  const bool covers = found.Covers;
  if (!window) {
    Report("window", "none");
    return 1;
  }
  Report("geometry", std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(x) + "+" +
                         std::to_string(y) + (covers ? " (the whole screen)" : " (NOT the whole screen)"));

  // What the window manager sees, and the window's names.
  ReportWindowManager(client, *window);
  Report("wm-name", Text(client.Property(*window, "WM_NAME")));
  Report("net-wm-name", Text(client.Property(*window, "_NET_WM_NAME")));
  Report("wm-class", Text(client.Property(*window, "WM_CLASS")));

  // The pointer over the window, then left in the middle of it. Under Xwayland the
  // compositor draws the pointer, and a warp ends Xwayland 22.1 (it aborts): no warping there.
  Report("pointer", framebuffer.empty() ? "unknown (no framebuffer to look at)"
                                        : PointerState(display, framebuffer, screenWidth / 4, screenHeight / 4));
  if (!framebuffer.empty()) {
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, screenWidth / 2, screenHeight / 2);
    XSync(display, False);
  }

  // Escape goes where the keyboard's focus is, as a key pressed by the user would: the
  // window manager (or, without one, the pointer over the window) must have given it to the
  // demo's window.
  client.SendKey(9);
  Report("escape", "sent");
  return covers ? 0 : 1;
}
