// The window's GL set-up and the picture loader against a real GL context (harness only).
#include <GL/gl.h>
#include <gtest/gtest.h>

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <vector>

#include "base/facts.hpp"
#include "display/bmp.hpp"
#include "store/store.hpp"
#include "scenes/background.hpp"
#include "tests/support/fatal_expect.hpp"
#include "tests/support/gl_context.hpp"
#include "tests/support/xclient.hpp"
#include "display/glx.hpp"

// Last: the Linux window's own state, with Xlib's headers.
#include "platform/linux/window.hpp"
// Xlib's macro Status would rename the fields of that name in the test support; these tests
// use no Xlib Status.
#undef Status

namespace {

// A 32-bit BMP of the demo's layout whose pixel (x, y) (y = 0 the bottom row) is colour(x, y).
std::vector<std::uint8_t> Bitmap(int width, int height, TRGBA (*colour)(int, int), std::uint32_t infoSize = 56) {
  std::uint32_t offset = 14 + infoSize;
  std::vector<std::uint8_t> bytes(offset + static_cast<std::size_t>(width) * height * 4, 0);
  auto put32 = [&](std::size_t at, std::uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); };
  bytes[0] = 'B';
  bytes[1] = 'M';
  put32(2, static_cast<std::uint32_t>(bytes.size()));
  put32(10, offset);
  put32(14, infoSize);
  put32(18, static_cast<std::uint32_t>(width));
  put32(22, static_cast<std::uint32_t>(height));
  std::uint16_t planes = 1, bits = 32;
  std::memcpy(bytes.data() + 26, &planes, 2);
  std::memcpy(bytes.data() + 28, &bits, 2);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      TRGBA c = colour(x, y);
      std::uint8_t* p = bytes.data() + offset + (static_cast<std::size_t>(y) * width + x) * 4;
      p[0] = c.B;
      p[1] = c.G;
      p[2] = c.R;
      p[3] = c.A;
    }
  }
  return bytes;
}

// Four quadrants: red bottom left, green bottom right, blue top left, white top right.
TRGBA Quadrants(int x, int y) {
  bool right = x >= 2, top = y >= 2;
  if (!right && !top) return {255, 0, 0, 255};
  if (right && !top) return {0, 255, 0, 255};
  if (!right && top) return {0, 0, 255, 255};
  return {255, 255, 255, 255};
}

void ExpectColour(TRGBA got, TRGBA want, const char* where) {
  EXPECT_EQ(got.R, want.R) << where;
  EXPECT_EQ(got.G, want.G) << where;
  EXPECT_EQ(got.B, want.B) << where;
}

TEST(Display, CheckGLErrorReportsAPendingErrorInGLUsWords) {
  EXPECT_FATAL(
      {
        TKelvoDisplay display;
        glEnable(0x7FFF);
        CheckGLError("probe");
      },
      200, "probe: GL ERROR: invalid enumerant");
}

TEST(Display, GLErrorLineWordsCodesGLUDoesNotKnowByTheirNumber) {
  // Run in a child: a report built from a null text would end the process.
  TChildOutcome outcome = RunInChild([] {
    std::printf("%s\n", GLErrorLine("probe", GL_INVALID_ENUM).c_str());
    std::printf("%s\n", GLErrorLine("probe", 0x1234).c_str());
    std::printf("%s\n", GLErrorLine("swap", 0xFFFFFFFF).c_str());
  });
  EXPECT_TRUE(outcome.Returned) << "signal " << outcome.Signal;
  EXPECT_EQ(outcome.Output,
            "probe: GL ERROR: invalid enumerant\n"
            "probe: GL ERROR: unknown error 0x1234\n"
            "swap: GL ERROR: unknown error 0xFFFFFFFF\n");
}

// Where GLU is not installed (here: a library file that does not exist, and a library that
// exists but is not GLU) the codes are worded by their names, the others by their number.
TEST(Display, GLErrorLineWithoutGLUWordsCodesByTheirNames) {
  TChildOutcome outcome = RunInChild([] {
    for (const char* library : {"/nonexistent/libGLU.so.1", "libX11.so.6"}) {
      std::printf("%s\n", GLErrorLine("probe", GL_INVALID_ENUM, library).c_str());
      std::printf("%s\n", GLErrorLine("probe", GL_OUT_OF_MEMORY, library).c_str());
      std::printf("%s\n", GLErrorLine("probe", 0x0506, library).c_str());
      std::printf("%s\n", GLErrorLine("swap", 0x1234, library).c_str());
    }
  });
  EXPECT_TRUE(outcome.Returned) << "signal " << outcome.Signal;
  const std::string words =
      "probe: GL ERROR: GL_INVALID_ENUM\n"
      "probe: GL ERROR: GL_OUT_OF_MEMORY\n"
      "probe: GL ERROR: GL_INVALID_FRAMEBUFFER_OPERATION\n"
      "swap: GL ERROR: unknown error 0x1234\n";
  EXPECT_EQ(outcome.Output, words + words);
}

// An X error as the server would report it against the demo's own window.
XErrorEvent ErrorOn(Display* display, ::Window window, unsigned char code) {
  XErrorEvent error{};
  error.type = 0;
  error.display = display;
  error.resourceid = window;
  error.error_code = code;
  error.request_code = 2;  // X_ChangeWindowAttributes
  return error;
}

// Stands for Xlib's own handler: the one the display set-up finds installed and passes every
// error on to that is not its window being gone.
int PreviousHandler(Display*, XErrorEvent* error) {
  std::printf("passed on: code %d\n", error->error_code);
  std::fflush(stdout);
  return 0;
}

TEST(Display, OnlyAGoneWindowAfterMappingEndsTheRunQuietly) {
  // The child installs a stand-in for Xlib's handler, sets the display up, takes back the
  // handler the set-up installed and hands it one error: "gone" ends with status 0 and no
  // line; anything else goes on to the previous handler (Xlib's report and status).
  struct TCase {
    unsigned char Code;
    bool MapFirst;
    bool OtherWindow;
    bool Gone;
  };
  for (const TCase& c : {TCase{BadWindow, true, false, true}, TCase{BadDrawable, true, false, true},
                         TCase{BadWindow, false, false, false}, TCase{BadMatch, false, false, false},
                         TCase{BadMatch, true, false, false}, TCase{BadValue, true, false, false},
                         TCase{BadWindow, true, true, false}}) {
    TChildOutcome outcome = RunInChild([&] {
      XSetErrorHandler(PreviousHandler);
      TKelvoDisplay display;
      if (c.MapFirst) display.MapWindow();
      XErrorHandler handler = XSetErrorHandler(nullptr);
      XSetErrorHandler(handler);
      std::printf("handing over\n");
      const TWindowState& state = display.Window().State();
      XErrorEvent error = ErrorOn(state.Connection, c.OtherWindow ? state.Root : state.Window, c.Code);
      handler(state.Connection, &error);
      std::printf("handler returned\n");
      std::fflush(stdout);
      _exit(3);
    });
    const std::string what = "code " + std::to_string(c.Code) + (c.MapFirst ? " mapped" : " unmapped") +
                             (c.OtherWindow ? " other window" : "");
    EXPECT_TRUE(outcome.Exited) << what << ": " << outcome.Output;
    if (c.Gone) {
      EXPECT_EQ(outcome.Status, 0) << what;
      EXPECT_EQ(outcome.LastLine(), "handing over") << what;
    } else {
      EXPECT_EQ(outcome.Status, 3) << what;
      EXPECT_NE(outcome.Output.find("handing over\npassed on: code " + std::to_string(c.Code) + "\nhandler returned\n"),
                std::string::npos)
          << what << ": " << outcome.Output;
    }
  }
  // The decision itself, for a window that was never created.
  XErrorEvent none = ErrorOn(nullptr, 0, BadWindow);
  EXPECT_FALSE(IsWindowGoneError(none.resourceid, none.error_code, 0, true));
}

TEST(Display, TheEventPollResetsTheScreenSaverAtTheFirstPollThenEveryInterval) {
  // Polls a frame apart on a stand-in clock: a reset at the first, then one each interval
  // counted from the last reset (a late poll moves the next one on), never two in a row.
  using namespace std::chrono_literals;
  TScreenSaverReset reset;
  const auto start = TScreenSaverReset::TClock::time_point{} + 1h;
  const auto interval = TScreenSaverReset::kInterval;
  EXPECT_GE(interval, 10s);
  EXPECT_LE(interval, 50s) << "the shortest idle time desktops offer is a minute";
  EXPECT_TRUE(reset.Due(start));
  EXPECT_FALSE(reset.Due(start));
  EXPECT_FALSE(reset.Due(start + interval - 16ms));
  EXPECT_TRUE(reset.Due(start + interval));
  EXPECT_FALSE(reset.Due(start + interval + 16ms));
  EXPECT_TRUE(reset.Due(start + 2 * interval + 5s));
  EXPECT_FALSE(reset.Due(start + 3 * interval));
  EXPECT_TRUE(reset.Due(start + 3 * interval + 5s));
}

TEST(Display, NamesTheWindowBeforeItIsMapped) {
  // The child sets the display up (which does not map the window yet) and a second client
  // reads the window's properties back, each as "NAME TYPE FORMAT VALUE".
  TChildOutcome outcome = RunInChild([] {
    TKelvoDisplay display;
    const TWindowState& state = display.Window().State();
    XSync(state.Connection, False);
    TXClient client;
    std::ostringstream out;
    out << "unmapped " << client.Unmapped(state.Window) << "\n";
    char host[HOST_NAME_MAX + 1] = {};
    gethostname(host, sizeof(host) - 1);
    out << "self " << getpid() << " " << host << "\n";
    for (const char* name : {"WM_NAME", "_NET_WM_NAME", "WM_CLASS", "WM_CLIENT_MACHINE", "_NET_WM_PID",
                             "_NET_WM_BYPASS_COMPOSITOR", "_NET_WM_STATE"}) {
      std::optional<TWindowPropertyValue> value = client.Property(state.Window, name);
      out << name << " ";
      if (!value) {
        out << "missing\n";
        continue;
      }
      out << value->Type << " " << value->Format << " ";
      for (char c : value->Bytes) out << (c == '\0' ? '|' : c);
      for (long number : value->Numbers) out << number;
      out << "\n";
    }
    WriteLine(out.str());
  });
  ASSERT_TRUE(outcome.Returned) << outcome.Output;
  std::istringstream lines(outcome.Output);
  std::map<std::string, std::string> properties;
  std::string line;
  while (std::getline(lines, line)) {
    const std::size_t space = line.find(' ');
    if (space != std::string::npos) properties[line.substr(0, space)] = line.substr(space + 1);
  }
  EXPECT_EQ(properties["unmapped"], "1") << outcome.Output;
  std::istringstream self(properties["self"]);
  std::string pid, host;
  self >> pid >> host;
  EXPECT_EQ(properties["WM_NAME"], "STRING 8 " + std::string(kWindowTitle));
  EXPECT_EQ(properties["_NET_WM_NAME"], "UTF8_STRING 8 " + std::string(kWindowTitle));
  EXPECT_EQ(properties["WM_CLASS"], "STRING 8 kelvo|Kelvo|");
  EXPECT_EQ(properties["WM_CLIENT_MACHINE"], "STRING 8 " + host);
  EXPECT_EQ(properties["_NET_WM_PID"], "CARDINAL 32 " + pid);
  EXPECT_EQ(properties["_NET_WM_BYPASS_COMPOSITOR"], "CARDINAL 32 1");
  // The full-screen request is still there beside them.
  EXPECT_TRUE(properties["_NET_WM_STATE"].starts_with("ATOM 32 ")) << outcome.Output;
}

TEST(Display, OnlyTheWindowManagersCloseRequestIsACloseRequest) {
  // The window names WM_DELETE_WINDOW in WM_PROTOCOLS; of the client messages a second
  // client sends it, another protocol's is an ordinary event and the delete request is the
  // close request, taken in the order they came, after a key press that came first.
  TChildOutcome outcome = RunInChild([] {
    TKelvoDisplay display;
    const TWindowState& state = display.Window().State();
    XSync(state.Connection, False);
    TXClient client;
    Display* other = client.Connection();
    std::optional<TWindowPropertyValue> protocols = client.Property(state.Window, "WM_PROTOCOLS");
    const Atom deleteWindow = XInternAtom(other, "WM_DELETE_WINDOW", False);
    std::printf("protocols %s\n", protocols && protocols->Numbers == std::vector<long>{static_cast<long>(deleteWindow)}
                                      ? "delete" : "other");
    auto send = [&](const char* protocol) {
      XEvent event{};
      event.xclient.type = ClientMessage;
      event.xclient.window = state.Window;
      event.xclient.message_type = XInternAtom(other, "WM_PROTOCOLS", False);
      event.xclient.format = 32;
      event.xclient.data.l[0] = static_cast<long>(XInternAtom(other, protocol, False));
      XSendEvent(other, state.Window, False, NoEventMask, &event);
    };
    XEvent key{};
    key.xkey.type = KeyPress;
    key.xkey.window = state.Window;
    key.xkey.keycode = 38;
    XSendEvent(other, state.Window, False, KeyPressMask, &key);
    send("WM_TAKE_FOCUS");
    send("WM_DELETE_WINDOW");
    XSync(other, False);
    // Until the close request (a window manager's own events may come before the key).
    for (TWindowEvent event = TWindowEvent::Nothing; event != TWindowEvent::CloseRequested;) {
      event = display.NextEvent();
      if (event == TWindowEvent::Other) std::printf("other\n");
      if (event == TWindowEvent::Escape || event == TWindowEvent::WindowGone) std::printf("escape or gone\n");
    }
    std::printf("close\n");
    std::fflush(stdout);
  }, 20);
  ASSERT_TRUE(outcome.Returned) << outcome.Output;
  EXPECT_NE(outcome.Output.find("protocols delete\n"), std::string::npos) << outcome.Output;
  EXPECT_TRUE(outcome.Output.ends_with("other\nother\nclose\n")) << outcome.Output;
  EXPECT_EQ(outcome.Output.find("escape or gone"), std::string::npos) << outcome.Output;
}

TEST(Display, SetsUpTheStateTheRunReliesOn) {
  TKelvoDisplay* display = nullptr;
  ASSERT_NO_FATAL_FAILURE(display = TestDisplay());
  ASSERT_NE(display, nullptr);
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  GLint source = 0, destination = 0;
  glGetIntegerv(GL_BLEND_SRC, &source);
  glGetIntegerv(GL_BLEND_DST, &destination);
  EXPECT_EQ(source, GL_SRC_ALPHA);
  EXPECT_EQ(destination, GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_TRUE(display->Mapped());
  EXPECT_EQ(display->WindowWidth, kDesignWidthPixels);
  EXPECT_EQ(display->WindowHeight, kDesignHeightPixels);
}

TEST(PictureLoader, UploadsUnchangedWithNearestFiltersAndOneLevel) {
  ASSERT_NO_FATAL_FAILURE(TestDisplay());
  auto bytes = Bitmap(4, 4, Quadrants);
  TResourceEntry entry{"TEX_QUADRANTS", 10, 1033, bytes};
  TTexture texture = LoadTexture(entry);
  EXPECT_EQ(texture.Name, "TEX_QUADRANTS");
  EXPECT_EQ(texture.Width, 4);
  EXPECT_EQ(texture.Height, 4);
  ASSERT_EQ(texture.Data.Length(), 64u);
  EXPECT_EQ(std::memcmp(texture.Data.Data(), bytes.data() + 70, 64), 0);
  GLint bound = 0, minFilter = 0, magFilter = 0, width = 0, height = 0, nextWidth = -1;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(static_cast<GLuint>(bound), texture.TextureID);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
  glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
  EXPECT_EQ(minFilter, GL_NEAREST);
  EXPECT_EQ(magFilter, GL_NEAREST);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &nextWidth);
  EXPECT_EQ(width, 4);
  EXPECT_EQ(height, 4);
  EXPECT_EQ(nextWidth, 0);
}

TEST(PictureLoader, LogsTheHeaderAndALongerInfoHeaderLoadsAlike) {
  TChildOutcome outcome = RunInChild([] {
    TKelvoDisplay display;
    auto bytes = Bitmap(4, 4, Quadrants, 124);
    LoadTexture(TResourceEntry{"TEX_X", 10, 1033, bytes});
  });
  ASSERT_TRUE(outcome.Returned) << outcome.Output;
  EXPECT_NE(outcome.Output.find("[uBMP] LoadTexture: IMG dimensions 4x4\n"
                                "[uBMP] LoadTexture: Pixel Data starts at 138\n"
                                "[uBMP] LoadTexture: Pixel Data size is 64 bytes\n"
                                "[uBMP] LoadTexture: Bits per Pixel 32\n"),
            std::string::npos)
      << outcome.Output;
}

TEST(PictureLoader, PixelDataCutShortIsAStreamReadError) {
  EXPECT_FATAL(
      {
        TKelvoDisplay display;
        auto bytes = Bitmap(4, 4, Quadrants);
        bytes.resize(bytes.size() - 1);
        LoadTexture(TResourceEntry{"TEX_X", 10, 1033, bytes});
      },
      217, "Stream read error");
  EXPECT_FATAL(
      {
        TKelvoDisplay display;
        auto bytes = Bitmap(4, 4, Quadrants);
        std::uint32_t beyond = 1u << 30;
        std::memcpy(bytes.data() + 10, &beyond, 4);
        LoadTexture(TResourceEntry{"TEX_X", 10, 1033, bytes});
      },
      217, "Stream read error");
}

TEST(PictureLoader, ARejectedHeaderEndsWithStatus1BeforeAnyOutput) {
  TChildOutcome outcome = RunInChild([] {
    TKelvoDisplay display;
    std::vector<std::uint8_t> bytes = {'B', 'M', 0, 0};
    std::printf("--\n");
    LoadTexture(TResourceEntry{"TEX_X", 10, 1033, bytes});
  });
  EXPECT_EQ(outcome.Status, 1);
  EXPECT_EQ(outcome.Output.substr(outcome.Output.find("--\n") + 3),
            "LoadTexture: ERROR: BMP Header Length mismatch! expected 14 bytes, got 4\n");
}

TEST(PictureRenderer, DrawsThePictureUprightOverAnyViewport) {
  ASSERT_NO_FATAL_FAILURE(TestDisplay());
  auto bytes = Bitmap(4, 4, Quadrants);
  TBackgroundRenderer picture(0, LoadTexture(TResourceEntry{"TEX_Q", 10, 1033, bytes}));
  for (auto [width, height] : {std::pair{1920, 1080}, std::pair{300, 200}, std::pair{7, 1000}}) {
    BeginTestFrame();
    glViewport(0, 0, width, height);
    picture.Render();
    ExpectColour(ReadPixel(0, 0), {255, 0, 0, 255}, "bottom left");
    ExpectColour(ReadPixel(width - 1, 0), {0, 255, 0, 255}, "bottom right");
    ExpectColour(ReadPixel(0, height - 1), {0, 0, 255, 255}, "top left");
    ExpectColour(ReadPixel(width - 1, height - 1), {255, 255, 255, 255}, "top right");
    if (width < 1920) ExpectColour(ReadPixel(width + 5, 0), {0, 0, 0, 0}, "outside the viewport");
  }
}

}  // namespace
