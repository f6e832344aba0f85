// The benchmark's results and its Markdown report: what each measurement keeps of a run,
// the figures of a whole benchmark, and the writer that turns them into the report (the
// medians, the paired ratios against the floor, the targets met or missed).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "bench/measure.hpp"
#include "bench/procfs.hpp"

// How often a full run's memory is sampled, and how long the floor's memory run lasts.
inline constexpr double kSampleEveryMs = 2000;
inline constexpr double kFloorMemoryMs = 15000;

struct TConfig {
  std::string Kelvo, Floor, GLProbe, AllocProbe, Out, Command = "kelvo-bench";
  int Runs = 5;
  double FrameSeconds = 15;
  bool Full = true;
  bool Frames = true;
  std::string Baseline;
  std::string GLLimit;  // libkelvo-gllimit.so: also the packed atlas against the full one
  // tessic.exe and the wrapper that runs it under Wine (scripts/wine): also tessic.exe
  // against kelvo.
  std::string TessicExe, WineRunner;
  // The web page's folder and the browser driver that runs it (scripts/web/bench.py), with
  // the WebGL renderer asked of the browser (the driver's --renderer): also the page in the
  // browser against kelvo.
  std::string WebPage, WebDriver, WebRenderer = "gl";
  bool WebOnly = false;  // the browser's comparison alone, without the floor's
};

// Steps inside the phases, between marks of each program's own output.
struct TStep {
  const char* Name;
  const char* KelvoFrom;
  const char* KelvoTo;
  const char* FloorFrom;
  const char* FloorTo;
};
inline const TStep kSteps[] = {
    {"font: glyphs rasterised into the atlas", "Rendering Bitmap", "Creating GL Texture", "atlas allocated",
     "glyphs in the atlas"},
    {"font: atlas upload", "Creating GL Texture", "found resource \"SONG\"", "glyphs in the atlas",
     "found resource \"SONG\""},
    {"song: temporary file round trip", "found resource \"SONG\"", "[uALSA] using audio device",
     "found resource \"SONG\"", "found resource \"TEX_"},
    {"song: ALSA set-up (kelvo only)", "[uALSA] using audio device", "found resource \"TEX_", nullptr, nullptr},
};
inline constexpr std::size_t kStepCount = sizeof kSteps / sizeof kSteps[0];

struct TStart {
  TStartup Phases;
  TThreadTimes Cpu;  // of all threads, read when the "Mapped Window" line arrived
  double Steps[kStepCount] = {};
  double Steal = 0;
  double PeakBytes = 0;  // VmHWM when the "Mapped Window" line arrived
};

struct TFrames {
  TFrameStats Stats;
  double ReportedFps = 0;  // mean of the frame-rate reports inside the window
  double CpuMsPerFrame = 0;  // processor time of all threads inside the window, per frame
  double Steal = 0;
};

// The harbour's time per frame from a program's own frame-rate reports.
struct TReportedFrames {
  double Fps = 0;            // the mean report inside the window
  double MsPerFrame = 0;     // its time per frame
  double CpuMsPerFrame = 0;  // processor time of the program's process inside the window, per frame
  double Steal = 0;
};

struct TFull {
  TMemoryBreakdown Memory;
  double PeakBytes = 0;  // VmHWM
  int Underruns = 0;
  int Reports = 0;
  int ExitCode = -1;
  double HarbourFps = 0;  // mean of the reports from the 8th on
  double Steal = 0;
};

// Start-up of the three programs of the store comparison, warm and cold.
struct TStoreComparison {
  std::vector<TStart> Warm[3], Cold[3];
  std::uint64_t Sizes[2] = {};
};
inline const char* const kComparedNames[3] = {"kelvo, store uncompressed (before)", "kelvo, store compressed (now)",
                                              "floor, reading the compressed store"};

// tessic.exe under Wine against kelvo ([0] kelvo, [1] tessic.exe), alternating.
struct TWineComparison {
  std::vector<TStart> Start[2];
  std::vector<TReportedFrames> Frames[2];
};

// One start of the page in the browser: the demo's phases timed from the press of the start
// control (display: from the press to the WebGL set-up), the first animation frame after
// the canvas was shown, and how long the page took from its address to an enabled start
// control (the page's files fetched, the module compiled).
struct TBrowserStart {
  TStartup Phases;
  double FirstFrameMs = 0;
  double LoadMs = 0;
};

// The harbour in the browser: the frame-rate reports, and what the browser holds in memory
// in the middle of the measuring window.
struct TBrowserFrames {
  double Fps = 0, MsPerFrame = 0;
  double CpuMsPerFrame = 0;  // processor time of all the browser's processes, per frame
  double ModuleBytes = 0;    // the module's memory (its WebAssembly heap)
  double JsHeapUsed = 0, JsHeapTotal = 0;
  double Rss = 0, Pss = 0;   // of all the browser's processes (proportional: shared pages split)
  int Processes = 0;
  std::string Canvas;        // the canvas's drawing buffer, WIDTHxHEIGHT
};

// The web page in a browser against kelvo, alternating.
struct TWebComparison {
  std::vector<TStart> Start;  // kelvo's
  std::vector<TBrowserStart> BrowserStart;
  std::vector<TReportedFrames> Frames;  // kelvo's
  std::vector<TBrowserFrames> BrowserFrames;
  std::string Browser, Renderer;  // the browser's version, its WebGL renderer
  std::uint64_t PageBytes = 0;    // the page's files
  std::vector<std::pair<std::string, std::uint64_t>> PageFiles;
};

// The GL's largest texture side for the packed atlas's runs: below the full atlas's 8192.
inline constexpr int kPackedAtlasLimit = 4096;

struct TResults {
  std::vector<TStart> StartKelvo, StartFloor;
  TStoreComparison Store;
  std::vector<TStart> Atlas[2];  // kelvo with the full atlas, and with GL limited to kPackedAtlasLimit
  std::vector<TFrames> OffKelvo, OffFloor, OnKelvo, OnFloor;
  std::vector<TFull> FullKelvo, FullFloor;
  TWineComparison Wine;
  TWebComparison Web;
  std::string Machine, Renderer, LoadBefore, LoadAfter, Date;
  std::string WineVersion;  // when tessic.exe was measured
  std::size_t PictureCount = 0;  // the pictures in kelvo's store
};

// A figure with a fixed number of digits after the point.
std::string Fixed(double value, int digits = 1);
// Bytes as MiB with one digit.
std::string Mb(double bytes);

// Writes the report to config.Out and to stdout; throws std::runtime_error when the file
// cannot be written.
void WriteReport(const TConfig& config, const TResults& r);
