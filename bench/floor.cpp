// kelvo-floor: the least work kelvo's start-up and harbour frames can cost on this machine,
// as the yardstick of the benchmarks. It does only the unavoidable part of the start-up: the
// GLX context on a full-screen window, the store mapped (read from a kelvo executable, with
// the same read-ahead and release of read pages as kelvo), the 256 glyphs rasterised with
// FreeType from the font in memory (the mapped bytes when stored raw, else decompressed once)
// into a freshly calloc'd RGBA atlas and its upload, the song's temporary-file round trip
// (streamed out of the store, read back with one read, delete), one bulk read (or
// decompression) straight into the pixel buffer per picture, on a second thread from the
// start as kelvo does it, and one upload per picture. It prints the same phase marks as
// kelvo, so both are timed the same way from outside. Then it draws the harbour scene's
// quads (background, sun twice, boat, water, one quad per greeting character) with the same
// textures, frame pacing and frame-rate reports as kelvo, until the given number of reports.
//
//   kelvo-floor [--store KELVO_EXECUTABLE] [--reports N]
//
// Before Xlib, whose Status macro would rename the decoded picture's field.
#include "display/picturedecoder.hpp"

#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <fcntl.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/dynarray.hpp"
#include "base/files.hpp"
#include "base/loglines.hpp"
#include "platform/loglines.hpp"
#include "base/renderer.hpp"
#include "platform/clock.hpp"
#include "platform/image.hpp"
#include "demo/greeting.hpp"
#include "demo/pacer.hpp"
#include "scenes/boat.hpp"
#include "scenes/designspace.hpp"
#include "scenes/sun.hpp"
#include "scenes/water.hpp"
#include "store/store.hpp"
#include "store/tempfile.hpp"

namespace {

[[noreturn]] void Fail(const std::string& what) {
  std::printf("[floor] ERROR: %s\n", what.c_str());
  std::fflush(stdout);
  _exit(2);
}

void Mark(std::string_view line) { std::printf("%.*s\n", static_cast<int>(line.size()), line.data()); }

struct TGlyph {
  float S0 = 0, T0 = 0, S1 = 0, T1 = 0;
  int Width = 0, Rows = 0, Left = 0, Top = 0, Advance = 0;
};

struct TPicture {
  GLuint Name = 0;
  int Width = 0, Height = 0;
  TUInt8DynArray Pixels;  // kept for the whole run, as kelvo keeps its copies
};

struct TFloor {
  Display* XDisplay = nullptr;
  ::Window Window = 0;
  GLuint Atlas = 0;
  std::uint8_t* AtlasPixels = nullptr;
  std::vector<TGlyph> Glyphs;
  std::uint8_t* Song = nullptr;
  std::vector<std::pair<std::string, TPicture>> Pictures;

  const TPicture& Picture(std::string_view name) const {
    for (const auto& [key, picture] : Pictures)
      if (key == name) return picture;
    Fail("no picture " + std::string(name));
  }
};

void OpenDisplay(TFloor& floor) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) Fail("cannot open X display");
  int screen = DefaultScreen(display);
  ::Window root = DefaultRootWindow(display);
  int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, None};
  XVisualInfo* visual = glXChooseVisual(display, screen, attributes);
  if (visual == nullptr) Fail("no GLX visual");
  XSetWindowAttributes windowAttributes{};
  windowAttributes.colormap = XCreateColormap(display, root, visual->visual, AllocNone);
  ::Window window = XCreateWindow(display, root, 0, 0, 1, 1, 0, visual->depth, InputOutput, visual->visual,
                                  CWBackPixel | CWBorderPixel | CWColormap, &windowAttributes);
  Atom fullscreen = XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False);
  Atom state = XInternAtom(display, "_NET_WM_STATE", False);
  XChangeProperty(display, window, state, XA_ATOM, 32, PropModeReplace,
                  reinterpret_cast<const unsigned char*>(&fullscreen), 1);
  GLXContext context = glXCreateContext(display, visual, nullptr, True);
  if (context == nullptr || !glXMakeCurrent(display, window, context)) Fail("no GLX context");
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  std::printf("[floor] INFO: GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
  Mark(kGLSetupDoneLine);
  floor.XDisplay = display;
  floor.Window = window;
}

void Upload(GLuint& name, int width, int height, GLenum format, const void* pixels) {
  glGenTextures(1, &name);
  glBindTexture(GL_TEXTURE_2D, name);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, format, GL_UNSIGNED_BYTE, pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
}

// The atlas: the same face, size, load flags and cell layout as kelvo's, white glyphs whose
// alpha is the coverage.
void BuildAtlas(TFloor& floor, const TResourceEntry& entry) {
  std::vector<std::uint8_t> decompressed;
  std::span<const std::uint8_t> font = entry.Bytes;
  if (entry.Codec != TResourceCodec::Raw) {
    decompressed.resize(static_cast<std::size_t>(entry.Size()));
    TResourceStream(entry).ReadBuffer(decompressed.data(), decompressed.size());
    font = decompressed;
  }
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (FT_Init_FreeType(&library) != 0 ||
      FT_New_Memory_Face(library, font.data(), static_cast<FT_Long>(font.size()), 0, &face) != 0 ||
      FT_Set_Char_Size(face, 0, 180 * 64, 96, 96) != 0)
    Fail("FreeType set-up failed");
  const long lineHeight = face->size->metrics.height >> 6;
  long side = 1;
  while (side < 16 * (lineHeight + 1)) side *= 2;
  const auto sideBytes = static_cast<std::size_t>(side);
  floor.AtlasPixels = static_cast<std::uint8_t*>(std::calloc(sideBytes * sideBytes, 4));
  if (floor.AtlasPixels == nullptr) Fail("out of memory");
  floor.Glyphs.resize(256);
  Mark("[floor] INFO: atlas allocated");
  long column = 0, row = 0;
  for (unsigned code = 0; code < 256; ++code) {
    if (FT_Load_Char(face, code, FT_LOAD_RENDER | FT_LOAD_FORCE_AUTOHINT | FT_LOAD_TARGET_LIGHT) != 0)
      Fail("FT_Load_Char failed");
    const FT_Bitmap& bitmap = face->glyph->bitmap;
    const long width = bitmap.width;
    if (column + width >= side) {
      column = 0;
      row += lineHeight + 1;
    }
    if (row + bitmap.rows > side) Fail("atlas overflow");
    for (unsigned y = 0; y < bitmap.rows; ++y) {
      const std::uint8_t* source = bitmap.buffer + static_cast<std::ptrdiff_t>(y) * bitmap.pitch;
      std::uint8_t* target = floor.AtlasPixels + ((static_cast<std::size_t>(row) + y) * sideBytes +
                                                  static_cast<std::size_t>(column)) * 4;
      for (unsigned x = 0; x < bitmap.width; ++x) {
        target[4 * x] = target[4 * x + 1] = target[4 * x + 2] = 255;
        target[4 * x + 3] = source[x];
      }
    }
    TGlyph& glyph = floor.Glyphs[code];
    const auto n = static_cast<float>(side);
    glyph.S0 = static_cast<float>(column) / n;
    glyph.T0 = static_cast<float>(row) / n;
    glyph.S1 = static_cast<float>(column + width) / n;
    glyph.T1 = static_cast<float>(row + bitmap.rows) / n;
    glyph.Width = static_cast<int>(width);
    glyph.Rows = static_cast<int>(bitmap.rows);
    glyph.Left = face->glyph->bitmap_left;
    glyph.Top = face->glyph->bitmap_top;
    glyph.Advance = static_cast<int>(face->glyph->advance.x >> 6);
    column += width + 1;
  }
  FT_Done_FreeType(library);
  Mark("[floor] INFO: glyphs in the atlas");
  Upload(floor.Atlas, static_cast<int>(side), static_cast<int>(side), GL_RGBA, floor.AtlasPixels);
  // kelvo's atlas clamps at its edges; the sampler then does the same work in both programs.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

// Writes the song to a file, reads its samples back with one read into one allocation of
// exactly their length, deletes the file.
void SongRoundTrip(TFloor& floor, const TResourceEntry& song, std::string_view fileName) {
  // The same exclusive creation, read-back through the open file and guarded removal as
  // kelvo's song.
  TTemporaryFile file = TTemporaryFile::Create(fileName, "floor");
  file.WriteEntry(song);
  std::uint8_t header[44];
  if (file.ReadAt(0, header, sizeof header) != sizeof header) Fail("cannot read " + file.Path());
  std::uint32_t length;
  std::memcpy(&length, header + 40, 4);
  floor.Song = static_cast<std::uint8_t*>(std::malloc(length));
  if (floor.Song == nullptr || file.ReadAt(sizeof header, floor.Song, length) != length) Fail("short song");
  file.Remove();
}

// The pixels come decoded (decompressed straight into their one buffer) from the picture
// decoder's thread, as in kelvo: the floor then only uploads them.
void LoadPicture(TFloor& floor, std::string_view name, TDecodedPicture decoded) {
  if (!decoded.Error.empty()) Fail(decoded.Error);
  TPicture picture;
  picture.Width = static_cast<int>(decoded.Header.Width);
  picture.Height = static_cast<int>(decoded.Header.Height);
  picture.Pixels = decoded.Pixels;
  Upload(picture.Name, picture.Width, picture.Height, GL_BGRA, picture.Pixels.Data());
  std::string key(name.substr(kPictureResourcePrefix.size()));
  for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  floor.Pictures.emplace_back(key, picture);
}

void Quad(float left, float bottom, float right, float top) {
  glBegin(GL_QUADS);
  glTexCoord2f(0, 0);
  glVertex2f(left, bottom);
  glTexCoord2f(1, 0);
  glVertex2f(right, bottom);
  glTexCoord2f(1, 1);
  glVertex2f(right, top);
  glTexCoord2f(0, 1);
  glVertex2f(left, top);
  glEnd();
}

void Quad(const TDesignQuad& quad) {
  Quad(static_cast<float>(quad.Left), static_cast<float>(quad.Bottom), static_cast<float>(quad.Right),
       static_cast<float>(quad.Top));
}

// The state of the harbour scene's motion: the same quads move as in kelvo, by the scenes'
// own motion functions.
struct THarbour {
  double BoatX = 0;
  double WaterLine = -2;
  double Pen = 2160;
  std::string Text;
};

void DrawHarbour(const TFloor& floor, THarbour& harbour, double t) {
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glViewport(0, 0, kDesignWidthPixels, kDesignHeightPixels);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glBindTexture(GL_TEXTURE_2D, floor.Picture("background").Name);
  Quad(-1, -1, 1, 1);

  // The sun: its silhouette and its lit copy, scaled and rocked about the same pivot.
  const double sink = SunSink(t);
  BeginDesignSpace();
  glBindTexture(GL_TEXTURE_2D, floor.Picture("sun").Name);
  glColor3f(0, 0, 0);
  RockAboutPivot(SunPivot(sink), SunAngle(t), kSunScaleX, kSunScaleY);
  Quad(SunQuad(sink));
  glColor4f(1, 1, 1, 1);
  Quad(SunQuad(kSunRestSink));
  EndDesignSpace();

  // The boat, a step further each frame, shrunk and rocked.
  const TPicture& boat = floor.Picture("boat");
  const TDesignQuad boatQuad = BoatQuad(harbour.BoatX, boat.Width, boat.Height);
  harbour.BoatX += BoatStep(1);
  BeginDesignSpace();
  glBindTexture(GL_TEXTURE_2D, boat.Name);
  RockAboutPivot(BoatPivot(boatQuad, boat.Width, boat.Height), BoatAngle(t), kBoatScale, kBoatScale);
  Quad(boatQuad);
  EndDesignSpace();

  // The water, from the bottom edge up to its line.
  harbour.WaterLine = NextWaterLine(harbour.WaterLine, t);
  glBindTexture(GL_TEXTURE_2D, floor.Picture("water").Name);
  Quad(-1, -1, 1, static_cast<float>(WaterTop(harbour.WaterLine)));

  // The greeting: one quad per character, ten design units further left each frame.
  BeginDesignSpace();
  glBindTexture(GL_TEXTURE_2D, floor.Atlas);
  double pen = harbour.Pen;
  harbour.Pen -= 10;
  for (unsigned char c : harbour.Text) {
    const TGlyph& g = floor.Glyphs[c];
    const auto left = static_cast<float>(pen + g.Left);
    const auto bottom = static_cast<float>(100.0 - (g.Rows - g.Top));
    const auto right = left + static_cast<float>(g.Width);
    const auto upper = bottom + static_cast<float>(g.Rows);
    glBegin(GL_QUADS);
    glTexCoord2f(g.S0, g.T1);
    glVertex2f(left, bottom);
    glTexCoord2f(g.S1, g.T1);
    glVertex2f(right, bottom);
    glTexCoord2f(g.S1, g.T0);
    glVertex2f(right, upper);
    glTexCoord2f(g.S0, g.T0);
    glVertex2f(left, upper);
    glEnd();
    pen += g.Advance;
  }
  EndDesignSpace();
  glXSwapBuffers(floor.XDisplay, floor.Window);
}

double NowMs() {
  using namespace std::chrono;
  return static_cast<double>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// kelvo's pacing: a frame once kFrameIntervalMs have passed, a report once kReportIntervalMs
// have passed, never sleeping in between.
[[noreturn]] void FrameLoop(const TFloor& floor, int reports) {
  THarbour harbour;
  harbour.Text = ToLatin1(GreetingText);
  double lastFrame = NowMs(), lastReport = lastFrame;
  int frames = 0, reported = 0;
  for (;;) {
    if (NowMs() - lastFrame >= kFrameIntervalMs) {
      lastFrame = NowMs();
      ++frames;
      DrawHarbour(floor, harbour, static_cast<double>(TickMilliseconds()));
    }
    if (NowMs() - lastReport >= kReportIntervalMs) {
      lastReport = NowMs();
      std::printf("%s\r", FormatFrameReport(frames).c_str());
      std::fflush(stdout);
      frames = 0;
      if (++reported >= reports) _exit(0);
    }
    XEvent event;
    XCheckMaskEvent(floor.XDisplay, KeyPressMask | StructureNotifyMask, &event);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::string storePath = ExecutableDirectory() + "kelvo";
  int reports = kReportsPerRun;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string_view option = argv[i];
    if (option == "--store") storePath = argv[i + 1];
    else if (option == "--reports") reports = std::atoi(argv[i + 1]);
    else Fail("usage: kelvo-floor [--store KELVO_EXECUTABLE] [--reports N]");
  }

  TFloor floor;
  OpenDisplay(floor);
  std::string error;
  auto store = TResourceStore::Open(storePath, error);
  if (!store) Fail(error);
  store->Prefetch();
  std::vector<TResourceEntry> pictures;
  for (std::size_t i = 0; i < store->Count(); ++i) {
    if (store->Entry(i).Name.starts_with(kPictureResourcePrefix)) pictures.push_back(store->Entry(i));
  }
  GLint maxTextureSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
  TPictureDecoder decoder(std::move(pictures), maxTextureSize);
  std::size_t picture = 0;
  bool sawPicture = false;
  for (std::size_t i = 0; i < store->Count(); ++i) {
    const TResourceEntry& entry = store->Entry(i);
    std::printf("[uKelvo] INFO: found resource \"%.*s\"\n", static_cast<int>(entry.Name.size()), entry.Name.data());
    if (entry.Name == kFontResource) {
      BuildAtlas(floor, entry);
    } else if (entry.Name == kSongResource) {
      SongRoundTrip(floor, entry, "kelvo-floor-temp-song.wav");
    } else if (entry.Name.starts_with(kPictureResourcePrefix)) {
      LoadPicture(floor, entry.Name, decoder.Take(picture++));
      sawPicture = true;
    }
    store->Release(i);
  }
  if (!sawPicture || floor.Song == nullptr || floor.Atlas == 0) Fail("the store lacks the font, the song or pictures");
  Mark(kRegisteredRendererLine);
  XSelectInput(floor.XDisplay, floor.Window, KeyPressMask | StructureNotifyMask);
  XMapWindow(floor.XDisplay, floor.Window);
  Mark(kMappedWindowLine);
  FrameLoop(floor, reports);
}
