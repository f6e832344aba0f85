// Test support: the second X client (see xclient.hpp).
#include "tests/support/xclient.hpp"

#include <X11/Xlib.h>
#include <X11/Xatom.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <cairo.h>

#include <bit>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <thread>

#include "base/fatal.hpp"

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;

namespace {

// Catches the X errors of a few requests that may name a window that is already gone,
// instead of letting Xlib's default handler end the test. Installed only around such
// requests, so code under test keeps the default handling.
class TErrorTrap {
 public:
  explicit TErrorTrap(Display* display) : Display_(display) {
    XSync(Display_, False);
    Caught = 0;
    Previous_ = XSetErrorHandler(&TErrorTrap::Handle);
  }
  ~TErrorTrap() { Finish(); }
  // Waits for the requests' replies and returns the first error code, 0 for none.
  int Finish() {
    if (Display_ != nullptr) {
      XSync(Display_, False);
      XSetErrorHandler(Previous_);
      Display_ = nullptr;
    }
    return Caught;
  }

 private:
  static int Handle(Display*, XErrorEvent* event) {
    if (Caught == 0) Caught = event->error_code;
    return 0;
  }
  static inline int Caught = 0;
  Display* Display_;
  XErrorHandler Previous_ = nullptr;
};

// One colour channel of a TrueColor pixel, scaled to eight bits.
struct TChannel {
  unsigned long Mask;
  int Shift;
  unsigned long Max;
  explicit TChannel(unsigned long mask)
      : Mask(mask), Shift(mask != 0 ? std::countr_zero(mask) : 0), Max(mask != 0 ? mask >> Shift : 1) {}
  std::uint8_t From(unsigned long pixel) const {
    return static_cast<std::uint8_t>(((pixel & Mask) >> Shift) * 255 / Max);
  }
};

}  // namespace

TRgb TScreenImage::Pixel(int x, int y) const {
  const std::size_t column = CheckIndex(Narrow<std::size_t>(x), Narrow<std::size_t>(Width));
  const std::size_t row = CheckIndex(Narrow<std::size_t>(y), Narrow<std::size_t>(Height));
  const std::size_t at = CheckIndex((row * Narrow<std::size_t>(Width) + column) * 3 + 2, Rgb.size()) - 2;
  return TRgb{Rgb[at], Rgb[at + 1], Rgb[at + 2]};
}

TXClient::TXClient() {
  Display_ = XOpenDisplay(nullptr);
  if (Display_ == nullptr) throw std::runtime_error("cannot open the X display named by DISPLAY");
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XTestQueryExtension(Display_, &eventBase, &errorBase, &major, &minor)) {
    XCloseDisplay(Display_);
    throw std::runtime_error("the X server has no XTEST extension");
  }
  Root_ = DefaultRootWindow(Display_);
}

TXClient::~TXClient() {
  if (Display_ != nullptr) XCloseDisplay(Display_);
}

void TXClient::SendKey(unsigned keyCode) {
  XTestFakeKeyEvent(Display_, keyCode, True, CurrentTime);
  XTestFakeKeyEvent(Display_, keyCode, False, CurrentTime);
  XSync(Display_, False);
}

std::optional<TXWindow> TXClient::WindowProperty(TXWindow window, const char* name) {
  std::vector<TXWindow> list = WindowListProperty(window, name);
  if (list.empty()) return std::nullopt;
  return list.front();
}

std::vector<TXWindow> TXClient::WindowListProperty(TXWindow window, const char* name) {
  std::vector<TXWindow> result;
  Atom property = XInternAtom(Display_, name, True);
  if (property == None) return result;
  TErrorTrap trap(Display_);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  int status = XGetWindowProperty(Display_, window, property, 0, 4096, False, XA_WINDOW, &type, &format, &count,
                                  &after, &data);
  if (trap.Finish() == 0 && status == Success && data != nullptr && type == XA_WINDOW && format == 32) {
    // Format-32 data comes as an array of long, whatever the size of long.
    const long* values = reinterpret_cast<const long*>(data);
    for (unsigned long i = 0; i < count; ++i) result.push_back(static_cast<Window>(values[i]));
  }
  if (data != nullptr) XFree(data);
  return result;
}

bool TXClient::WindowManagerRunning() {
  std::optional<TXWindow> check = WindowProperty(Root_, "_NET_SUPPORTING_WM_CHECK");
  if (!check) return false;
  std::optional<TXWindow> self = WindowProperty(*check, "_NET_SUPPORTING_WM_CHECK");
  return self && *self == *check;
}

std::optional<TXWindow> TXClient::FindClientWindow(std::chrono::milliseconds timeout, long pid) {
  const auto deadline = TClock::now() + timeout;
  auto owned = [&](TXWindow candidate) {
    if (pid == 0) return true;
    std::optional<TWindowPropertyValue> owner = Property(candidate, "_NET_WM_PID");
    return owner && !owner->Numbers.empty() && owner->Numbers.front() == pid;
  };
  while (true) {
    if (WindowManagerRunning()) {
      std::vector<TXWindow> clients = WindowListProperty(Root_, "_NET_CLIENT_LIST");
      for (auto client = clients.rbegin(); client != clients.rend(); ++client) {
        if (owned(*client)) return *client;
      }
    } else {
      Window root = 0, parent = 0;
      Window* children = nullptr;
      unsigned count = 0;
      std::optional<TXWindow> found;
      if (XQueryTree(Display_, Root_, &root, &parent, &children, &count) != 0 && children != nullptr) {
        // The list runs from the bottom of the stack to the top.
        for (unsigned i = count; i-- > 0 && !found;) {
          XWindowAttributes attributes{};
          TErrorTrap trap(Display_);
          Status status = XGetWindowAttributes(Display_, children[i], &attributes);
          if (trap.Finish() == 0 && status != 0 && attributes.map_state == IsViewable &&
              !attributes.override_redirect && owned(children[i])) {
            found = children[i];
          }
        }
      }
      if (children != nullptr) XFree(children);
      if (found) return found;
    }
    if (TClock::now() >= deadline) return std::nullopt;
    std::this_thread::sleep_for(20ms);
  }
}

void TXClient::DestroyWindow(TXWindow id) {
  TErrorTrap trap(Display_);
  XDestroyWindow(Display_, id);
}

void TXClient::RequestClose(TXWindow id) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = id;
  event.xclient.message_type = XInternAtom(Display_, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(Display_, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  TErrorTrap trap(Display_);
  XSendEvent(Display_, id, False, NoEventMask, &event);
  XSync(Display_, False);
}

std::optional<TWindowSize> TXClient::WindowSize(TXWindow id) {
  XWindowAttributes attributes{};
  TErrorTrap trap(Display_);
  Status status = XGetWindowAttributes(Display_, id, &attributes);
  if (trap.Finish() != 0 || status == 0) return std::nullopt;
  return TWindowSize{attributes.width, attributes.height};
}

std::optional<TWindowPropertyValue> TXClient::Property(TXWindow id, const char* name) {
  const Atom property = XInternAtom(Display_, name, True);
  if (property == None) return std::nullopt;
  TErrorTrap trap(Display_);
  Atom type = None;
  int format = 0;
  unsigned long count = 0, after = 0;
  unsigned char* data = nullptr;
  const int status = XGetWindowProperty(Display_, id, property, 0, 65536, False, AnyPropertyType, &type, &format,
                                        &count, &after, &data);
  std::optional<TWindowPropertyValue> result;
  if (trap.Finish() == 0 && status == Success && type != None) {
    result.emplace();
    char* typeName = XGetAtomName(Display_, type);
    result->Type = typeName != nullptr ? typeName : "";
    if (typeName != nullptr) XFree(typeName);
    result->Format = format;
    if (format == 8) {
      result->Bytes.assign(reinterpret_cast<const char*>(data), count);
    } else if (format == 16) {
      const short* values = reinterpret_cast<const short*>(data);
      result->Numbers.assign(values, values + count);
    } else if (format == 32) {
      // Format-32 data comes as an array of long, whatever the size of long.
      const long* values = reinterpret_cast<const long*>(data);
      result->Numbers.assign(values, values + count);
    }
  }
  if (data != nullptr) XFree(data);
  return result;
}

bool TXClient::Unmapped(TXWindow id) {
  XWindowAttributes attributes{};
  TErrorTrap trap(Display_);
  Status status = XGetWindowAttributes(Display_, id, &attributes);
  return trap.Finish() == 0 && status != 0 && attributes.map_state == IsUnmapped;
}

std::optional<TWindowSize> TXClient::WaitForSize(TXWindow id, TWindowSize wanted, std::chrono::milliseconds timeout) {
  const auto deadline = TClock::now() + timeout;
  while (true) {
    std::optional<TWindowSize> size = WindowSize(id);
    if (!size || *size == wanted || TClock::now() >= deadline) return size;
    std::this_thread::sleep_for(20ms);
  }
}

TScreenImage TXClient::CaptureScreen() {
  XWindowAttributes rootAttributes{};
  XGetWindowAttributes(Display_, Root_, &rootAttributes);
  XImage* image = XGetImage(Display_, Root_, 0, 0, Narrow<unsigned>(rootAttributes.width),
                            Narrow<unsigned>(rootAttributes.height), AllPlanes, ZPixmap);
  if (image == nullptr) throw std::runtime_error("XGetImage of the root window failed");
  auto destroy = [](XImage* owned) { XDestroyImage(owned); };
  std::unique_ptr<XImage, decltype(destroy)> owner(image, destroy);
  const Visual* visual = rootAttributes.visual;
  const TChannel red(visual->red_mask), green(visual->green_mask), blue(visual->blue_mask);

  TScreenImage result;
  result.Width = image->width;
  result.Height = image->height;
  const std::size_t width = Narrow<std::size_t>(image->width);
  const std::size_t height = Narrow<std::size_t>(image->height);
  result.Rgb.resize(width * height * 3);
  const bool direct32 = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                        std::endian::native == std::endian::little;
  for (std::size_t y = 0; y < height; ++y) {
    for (std::size_t x = 0; x < width; ++x) {
      unsigned long pixel;
      if (direct32) {
        std::uint32_t value;
        std::memcpy(&value, image->data + y * Narrow<std::size_t>(image->bytes_per_line) + x * 4, 4);
        pixel = value;
      } else {
        pixel = XGetPixel(image, Narrow<int>(x), Narrow<int>(y));
      }
      const std::size_t at = (y * width + x) * 3;
      result.Rgb[at] = red.From(pixel);
      result.Rgb[at + 1] = green.From(pixel);
      result.Rgb[at + 2] = blue.From(pixel);
    }
  }
  return result;
}

void SavePng(const TScreenImage& image, const std::string& path) {
  cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, image.Width, image.Height);
  std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)> owner(surface, cairo_surface_destroy);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) throw std::runtime_error("cairo surface failed");
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const std::size_t stride = Narrow<std::size_t>(cairo_image_surface_get_stride(surface));
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < image.Width; ++x) {
      const TRgb pixel = image.Pixel(x, y);
      // RGB24 is one native 32-bit word per pixel, red in bits 16 to 23.
      const std::uint32_t word = static_cast<std::uint32_t>(pixel.R) << 16 |
                                 static_cast<std::uint32_t>(pixel.G) << 8 | pixel.B;
      std::memcpy(data + Narrow<std::size_t>(y) * stride + Narrow<std::size_t>(x) * 4, &word, 4);
    }
  }
  cairo_surface_mark_dirty(surface);
  if (cairo_surface_write_to_png(surface, path.c_str()) != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error("cannot write " + path);
  }
}
