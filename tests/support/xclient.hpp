// Test support: a second X client beside the program under test. It presses keys through
// the XTEST extension, finds the program's window, destroys it, reads its size and its
// properties and takes
// screenshots of the whole screen (saved as PNG through cairo).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Xlib's types, declared here so that Xlib's macros (Status, None, Bool) stay out of the
// tests that include this header.
struct _XDisplay;
using TXWindow = unsigned long;  // an X window id

struct TRgb {
  std::uint8_t R = 0;
  std::uint8_t G = 0;
  std::uint8_t B = 0;
  bool operator==(const TRgb&) const = default;
};

// A screenshot: Width x Height pixels, three bytes (R, G, B) each, rows from the top.
struct TScreenImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Rgb;
  // The pixel at column x, row y, counted from the top-left corner; out of range ends the
  // program with a range error.
  TRgb Pixel(int x, int y) const;
};

struct TWindowSize {
  int Width = 0;
  int Height = 0;
  bool operator==(const TWindowSize&) const = default;
};

// A window property as the server holds it: its type's name, its format (8, 16 or 32 bits)
// and its items (bytes for format 8, numbers for formats 16 and 32).
struct TWindowPropertyValue {
  std::string Type;
  int Format = 0;
  std::string Bytes;
  std::vector<long> Numbers;
};

class TXClient {
 public:
  // Connects to $DISPLAY; throws std::runtime_error when it cannot, or when the server
  // lacks the XTEST extension.
  TXClient();
  ~TXClient();
  TXClient(const TXClient&) = delete;
  TXClient& operator=(const TXClient&) = delete;

  _XDisplay* Connection() const { return Display_; }
  TXWindow Root() const { return Root_; }

  // Presses and releases the key with this hardware key code.
  void SendKey(unsigned keyCode);

  // True when an EWMH window manager runs (its check window names itself).
  bool WindowManagerRunning();

  // Waits until an application window is mapped and returns it: the newest entry of the
  // window manager's client list when one runs, else the top-most viewable child of the
  // root that is not override-redirect. With a pid, only a window whose _NET_WM_PID names
  // that process counts: the list may still hold the window of a client that has just
  // ended (a busy window manager removes it late), which must not be taken for the new
  // one. Empty after the timeout.
  std::optional<TXWindow> FindClientWindow(std::chrono::milliseconds timeout, long pid = 0);

  // Destroys another client's window (that client then gets DestroyNotify).
  void DestroyWindow(TXWindow id);

  // Asks the window to close as a window manager does on Alt-F4: a WM_PROTOCOLS client
  // message naming WM_DELETE_WINDOW, sent to the window itself.
  void RequestClose(TXWindow id);

  // The window's current size; empty when the window does not exist (any more).
  std::optional<TWindowSize> WindowSize(TXWindow id);

  // The window's property of that name; empty when the window or the property does not exist.
  std::optional<TWindowPropertyValue> Property(TXWindow id, const char* name);

  // True while the window exists and is not mapped.
  bool Unmapped(TXWindow id);

  // Waits until the window has the size; returns the last size seen.
  std::optional<TWindowSize> WaitForSize(TXWindow id, TWindowSize wanted, std::chrono::milliseconds timeout);

  // The whole root window as it is on the screen now.
  TScreenImage CaptureScreen();

 private:
  std::optional<TXWindow> WindowProperty(TXWindow window, const char* name);
  std::vector<TXWindow> WindowListProperty(TXWindow window, const char* name);

  _XDisplay* Display_ = nullptr;
  TXWindow Root_ = 0;
};

// Writes the image as a PNG file; throws std::runtime_error on failure.
void SavePng(const TScreenImage& image, const std::string& path);
