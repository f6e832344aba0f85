// kelvo-bench: measures kelvo against the floor program and writes the results as Markdown.
// Runs under scripts/headless (it needs the display and the audio sink). Every measurement
// alternates kelvo and the floor, run after run, and takes the median of the runs:
//   start-up   exec to "[uGLX] INFO: Mapped Window", by phase (from timestamped output)
//   frames     the harbour scene's time per frame, from the buffer swaps (LD_PRELOAD probe),
//              with the text mostly off screen and with every glyph quad moved on screen
//   memory     resident memory of a full run at its largest, sorted into the design's
//              buffers and the GL driver's (allocation probe, smaps and pagemap)
//   audio      "[uALSA] WARNING: Buffer underrun" lines over full runs of kelvo
//   atlas      with --gllimit: start-up and peak memory of kelvo with the full font atlas
//              and on a GL limited to 4096 x 4096 textures (the packed atlas), alternating
//   store      with --baseline: start-up of a kelvo whose store is kept uncompressed, of
//              this kelvo and of the floor reading this kelvo's store, alternating, warm
//              (files in the page cache) and cold (page cache dropped before every run)
//   web        with --web-page: the web page in a browser (run by the --web-driver script,
//              Chromium with the --web-renderer it is given) against kelvo, alternating:
//              from the press of the start control to the page's mapped-window line and to
//              its first animation frame, against kelvo's exec to its mapped-window line;
//              the harbour's time per frame from both programs' frame-rate reports; what the
//              browser holds in memory in the harbour; the size of the page's files; with
//              --web-only nothing else is measured
//   windows    with --tessic-exe: tessic.exe under Wine (started by the --wine wrapper, in
//              the Wine session the caller made) against kelvo, alternating: exec to each
//              one's mapped-window line, and the harbour's time per frame from both programs'
//              frame-rate reports (a preloaded probe does not see the swaps of Wine's libGL)
//
//   kelvo-bench --kelvo EXE --floor EXE --glprobe SO --allocprobe SO --out FILE
//               [--command TEXT] [--runs N] [--frame-seconds S] [--no-full] [--no-frames] [--baseline EXE]
//               [--gllimit SO] [--tessic-exe EXE --wine SCRIPT]
//               [--web-page DIR --web-driver SCRIPT [--web-renderer gl|swiftshader] [--web-only]]
//
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/gllimit.hpp"
#include "bench/measure.hpp"
#include "bench/procfs.hpp"
#include "bench/process.hpp"
#include "bench/report.hpp"
#include "base/facts.hpp"
#include "base/loglines.hpp"
#include "platform/loglines.hpp"
#include "platform/system.hpp"
#include "store/store.hpp"

namespace {

constexpr double kStartupStopMs = 300;
constexpr double kKelvoHarbourFromMs = 6000;  // 16 pictures of a quarter second, then 2 s of harbour
constexpr double kFloorHarbourFromMs = 2000;  // the floor starts with the harbour


void Say(const std::string& text) { std::cerr << "bench: " << text << std::endl; }

std::string Real(const std::string& path) {
  std::error_code error;
  auto canonical = std::filesystem::canonical(path, error);
  if (error) throw std::runtime_error("cannot find " + path);
  return canonical.string();
}

// The pixel bytes of every picture and the sample bytes of the song, from the store.
TDesignBuffers DesignOf(const std::string& kelvo, const std::string& program) {
  std::string error;
  auto store = TResourceStore::Open(kelvo, error);
  if (!store) throw std::runtime_error("cannot read the store of " + kelvo + ": " + error);
  TDesignBuffers design;
  auto u32 = [](std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint32_t value = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&value, bytes.data() + at, 4);
    return value;
  };
  for (std::size_t i = 0; i < store->Count(); ++i) {
    const TResourceEntry& entry = store->Entry(i);
    std::uint8_t header[44] = {};
    const std::size_t got = TResourceStream(entry).Read(header, sizeof header);
    const std::span<const std::uint8_t> head(header, got);
    if (entry.Name.starts_with(kPictureResourcePrefix)) design.PictureSizes.push_back(std::uint64_t{u32(head, 18)} * u32(head, 22) * 4);
    if (entry.Name == kSongResource) design.SongSize = u32(head, 40);
  }
  design.Program = Real(program);
  design.Store = Real(kelvo);
  design.StoreFileSize = std::filesystem::file_size(design.Store);
  return design;
}

// The folder of the probes' logs, made on first use and removed at the end.
const std::string& TempDirectory() {
  static const std::string directory = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "kelvo-bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot make a temporary folder");
    return pattern;
  }();
  return directory;
}

std::string TempFile(const std::string& name) {
  std::string path = TempDirectory() + "/" + name;
  std::filesystem::remove(path);
  return path;
}

std::vector<std::uint64_t> ReadSwaps(const std::string& path) {
  std::vector<std::uint64_t> swaps;
  std::optional<std::string> bytes = ReadFile(path);
  if (!bytes) return swaps;
  swaps.resize(bytes->size() / 8);
  std::memcpy(swaps.data(), bytes->data(), swaps.size() * 8);
  return swaps;
}

[[noreturn]] void RunFailed(const std::string& what, const TRunResult& run) {
  std::ostringstream text;
  text << what << " (exit " << run.ExitCode << ", signal " << run.Signal << "); last output:";
  const std::size_t from = run.Lines.size() > 8 ? run.Lines.size() - 8 : 0;
  for (std::size_t i = from; i < run.Lines.size(); ++i) text << "\n    " << run.Lines[i].Text;
  throw std::runtime_error(text.str());
}

// ---------------------------------------------------------------------------------------

struct TSide {
  std::string Name;
  std::string Program;
  std::vector<std::string> Arguments;
  double HarbourFromMs = 0;
  std::vector<std::pair<std::string, std::string>> Environment = {};
  TWindowLines Window = kLinuxWindowLines;  // the lines its system's window writes
};

TStart MeasureStartup(const TSide& side) {
  TStart start;
  TRunRequest request;
  request.Program = side.Program;
  request.Arguments = side.Arguments;
  request.Environment = side.Environment;
  request.StopAfterMappedMs = kStartupStopMs;
  request.MappedLine = side.Window.Mapped;
  request.TimeoutMs = 30000;
  request.OnLine = [&](pid_t pid, const TLine& line) {
    if (line.Text.find(side.Window.Mapped) == std::string::npos) return;
    if (std::optional<TThreadTimes> times = ThreadTimes(pid)) start.Cpu = *times;
    start.PeakBytes = StatusBytes(pid, "VmHWM").value_or(0);
  };
  TRunResult run = RunProgram(request);
  std::string error;
  std::optional<TStartup> startup = StartupPhases(run.Lines, error, side.Window);
  if (!startup) RunFailed(side.Name + " start-up: " + error, run);
  start.Phases = *startup;
  start.Steal = run.StealShare;
  // kelvo's steps are tessic.exe's too: both are the demo's own lines.
  const bool isFloor = side.Name == "floor";
  for (std::size_t i = 0; i < kStepCount; ++i) {
    const char* from = isFloor ? kSteps[i].FloorFrom : kSteps[i].KelvoFrom;
    const char* to = isFloor ? kSteps[i].FloorTo : kSteps[i].KelvoTo;
    if (from != nullptr) start.Steps[i] = Between(run.Lines, from, to).value_or(0);
  }
  return start;
}


// Processor time of the program's threads at a moment of the measuring window.
struct TCpuMark {
  std::uint64_t Ns = 0;
  TThreadTimes Times;
};

// A run through the harbour scene: stopped config.FrameSeconds after the harbour has run for
// a while, with the processor time of the program's threads where the measuring window opens
// (the first sample inside the harbour) and where it closes (the last one, taken just before
// the program is stopped).
struct THarbourRun {
  TRunResult Run;
  TCpuMark First, Last;
  double FirstReportMs = 0;  // the first frame-rate report that counts only harbour frames
};

THarbourRun RunHarbour(const TSide& side, const TConfig& config,
                       std::vector<std::pair<std::string, std::string>> environment) {
  std::optional<double> mappedMs;
  std::optional<TCpuMark> first, last;
  TRunRequest request;
  request.Program = side.Program;
  request.Arguments = side.Arguments;
  request.Environment = std::move(environment);
  request.MappedLine = side.Window.Mapped;
  request.StopAfterMappedMs = side.HarbourFromMs + config.FrameSeconds * 1000;
  request.TimeoutMs = *request.StopAfterMappedMs + 60000;
  const std::uint64_t startNs = MonotonicNs();
  request.OnLine = [&](pid_t, const TLine& line) {
    if (!mappedMs && line.Text.find(side.Window.Mapped) != std::string::npos) mappedMs = line.Ms;
  };
  request.SampleEveryMs = 100;
  request.Sample = [&](pid_t pid) {
    if (!mappedMs || static_cast<double>(MonotonicNs() - startNs) / 1e6 < *mappedMs + side.HarbourFromMs) return;
    std::optional<TThreadTimes> times = ThreadTimes(pid);
    if (!times) return;
    const TCpuMark mark{MonotonicNs(), *times};
    if (!first) first = mark;
    last = mark;
  };
  TRunResult run = RunProgram(request);
  if (!run.MappedMs || run.TimedOut || !first || !last) RunFailed(side.Name + " frames: no full run", run);
  THarbourRun harbour{std::move(run), *first, *last};
  // A report counts the second before it: the first one a second into the harbour.
  harbour.FirstReportMs = *harbour.Run.MappedMs + side.HarbourFromMs + 1000;
  return harbour;
}

TFrames MeasureFrames(const TSide& side, const TConfig& config, bool wrapGlyphs, const std::string& glprobe) {
  const std::string log = TempFile(side.Name + "-swaps.bin");
  std::vector<std::pair<std::string, std::string>> environment = {{"LD_PRELOAD", glprobe},
                                                                  {"KELVO_BENCH_SWAP_LOG", log}};
  if (wrapGlyphs) environment.emplace_back("KELVO_BENCH_WRAP_GLYPHS", "1");
  const THarbourRun harbour = RunHarbour(side, config, std::move(environment));
  TFrames frames;
  frames.Steal = harbour.Run.StealShare;
  const std::vector<std::uint64_t> swaps = ReadSwaps(log);
  frames.Stats = FrameStats(swaps, harbour.First.Ns, harbour.Last.Ns);
  if (frames.Stats.Frames < 10) RunFailed(side.Name + " frames: too few buffer swaps logged", harbour.Run);
  frames.CpuMsPerFrame = (harbour.Last.Times.RunMs - harbour.First.Times.RunMs) / frames.Stats.Frames;
  // Frame-rate reports after the window start, for comparison with the swaps.
  frames.ReportedFps = MeanReport(harbour.Run.Lines, harbour.FirstReportMs);
  std::filesystem::remove(log);
  return frames;
}

// The harbour's time per frame from the program's own frame-rate reports, without a probe:
// the measure that a program under Wine and the Linux program share (Wine opens libGL
// itself and looks its functions up there, so a preloaded probe never sees its swaps).
TReportedFrames MeasureReportedFrames(const TSide& side, const TConfig& config) {
  const THarbourRun harbour = RunHarbour(side, config, {});
  TReportedFrames frames;
  frames.Steal = harbour.Run.StealShare;
  frames.Fps = MeanReport(harbour.Run.Lines, harbour.FirstReportMs);
  if (frames.Fps <= 0) RunFailed(side.Name + " frames: no frame-rate report in the harbour", harbour.Run);
  frames.MsPerFrame = 1000 / frames.Fps;
  const double seconds = static_cast<double>(harbour.Last.Ns - harbour.First.Ns) / 1e9;
  if (seconds > 0)
    frames.CpuMsPerFrame = (harbour.Last.Times.RunMs - harbour.First.Times.RunMs) / (seconds * frames.Fps);
  return frames;
}


TFull MeasureFull(const TSide& side, const std::string& allocprobe, const std::string& kelvo,
                  std::optional<double> stopAfterMs) {
  const std::string log = TempFile(side.Name + "-allocations.log");
  const TDesignBuffers design = DesignOf(kelvo, side.Program);
  TFull full;
  TRunRequest request;
  request.Program = side.Program;
  request.Arguments = side.Arguments;
  request.Environment = {{"LD_PRELOAD", allocprobe}, {"KELVO_BENCH_ALLOC_LOG", log}};
  request.StopAfterMappedMs = stopAfterMs;
  request.TimeoutMs = 150000;
  request.SampleEveryMs = kSampleEveryMs;
  request.Sample = [&](pid_t pid) {
    const std::string proc = "/proc/" + std::to_string(pid);
    std::optional<double> rss = StatusBytes(pid, "VmRSS");
    std::optional<double> peak = StatusBytes(pid, "VmHWM");
    std::optional<std::string> smaps = ReadFile(proc + "/smaps");
    std::optional<std::string> blocks = ReadFile(log);
    if (!rss || !peak || !smaps || !blocks) return;
    full.PeakBytes = std::max(full.PeakBytes, *peak);
    if (*rss <= full.Memory.Total) return;
    TPageMap pages(pid);
    full.Memory = SortMemory(ReplayAllocations(*blocks), ParseSmaps(*smaps), design, *rss,
                             [&](const TAllocation& block) { return pages.Resident(block.Address, block.Size); });
  };
  TRunResult run = RunProgram(request);
  if (!run.MappedMs || run.TimedOut) RunFailed(side.Name + " full run: it did not run to its end", run);
  full.Steal = run.StealShare;
  // The player writes its underrun warning at most once a second, with the count held back.
  full.Underruns = 0;
  for (const TLine& line : run.Lines) full.Underruns += static_cast<int>(OccurrencesInLine(line.Text, kUnderrunLine));
  std::vector<int> reports = FrameReports(run.Lines);
  full.Reports = static_cast<int>(reports.size());
  full.ExitCode = run.ExitCode;
  double sum = 0;
  int counted = 0;
  for (std::size_t i = 7; i < reports.size(); ++i, ++counted) sum += reports[i];
  full.HarbourFps = counted > 0 ? sum / counted : 0;
  std::filesystem::remove(log);
  return full;
}

// tessic.exe under Wine against kelvo: start-up, then the harbour's frames, the two
// alternating run by run. One start-up of each comes first and is not counted: it also
// starts the Wine session's server and services again when they have ended since the last
// Windows program (they linger half a minute).
void MeasureUnderWine(const TConfig& config, const TSide& kelvo, TWineComparison& wine) {
  const TSide tessic{"tessic.exe", config.WineRunner, {config.TessicExe}, kKelvoHarbourFromMs, {}, kWindowsWindowLines};
  const TSide* const sides[2] = {&kelvo, &tessic};
  Say("tessic.exe under Wine: warming up (one start-up of each, not counted)");
  for (const TSide* side : sides) MeasureStartup(*side);
  for (int run = 1; run <= config.Runs; ++run) {
    for (int i = 0; i < 2; ++i) wine.Start[i].push_back(MeasureStartup(*sides[i]));
    Say("start-up " + std::to_string(run) + ", kelvo and tessic.exe under Wine: " +
        Fixed(wine.Start[0].back().Phases.Total) + " ms, " + Fixed(wine.Start[1].back().Phases.Total) + " ms");
  }
  if (!config.Frames) return;
  for (int run = 1; run <= config.Runs; ++run) {
    for (int i = 0; i < 2; ++i) wine.Frames[i].push_back(MeasureReportedFrames(*sides[i], config));
    Say("frames from the reports " + std::to_string(run) + ", kelvo and tessic.exe under Wine: " +
        Fixed(wine.Frames[0].back().MsPerFrame) + " ms, " + Fixed(wine.Frames[1].back().MsPerFrame) + " ms");
  }
}

// One run of the page in the browser by the driver ("start", or "frames" with the seconds
// from the mapped window to the harbour and the seconds of harbour to measure), its output read into the page's console and the driver's figures.
TBrowserOutput RunBrowser(const TConfig& config, const std::vector<std::string>& what) {
  TRunRequest request;
  request.Program = config.WebDriver;
  request.Arguments = {"--renderer", config.WebRenderer, config.WebPage};
  request.Arguments.insert(request.Arguments.end(), what.begin(), what.end());
  request.TimeoutMs = 240000;
  TRunResult run = RunProgram(request);
  if (run.TimedOut || run.ExitCode != 0) RunFailed("the browser (" + what[0] + ")", run);
  TBrowserOutput output = ParseBrowserOutput(run.Lines);
  if (output.Console.empty()) RunFailed("the browser (" + what[0] + "): no console lines", run);
  return output;
}

TBrowserStart MeasureBrowserStart(const TConfig& config, TWebComparison& web) {
  const TBrowserOutput output = RunBrowser(config, {"start"});
  std::string error;
  std::optional<TStartup> phases = StartupPhases(output.Console, error, kWebWindowLines);
  if (!phases) throw std::runtime_error("the browser's start-up: " + error);
  TBrowserStart start;
  start.Phases = *phases;
  start.FirstFrameMs = output.Number("first_frame_ms").value_or(0);
  start.LoadMs = output.Number("load_ms").value_or(0);
  if (start.FirstFrameMs < start.Phases.Total) throw std::runtime_error("the browser's start-up: no first frame");
  if (auto renderer = output.Figures.find("renderer"); renderer != output.Figures.end()) web.Renderer = renderer->second;
  if (auto browser = output.Figures.find("browser"); browser != output.Figures.end()) web.Browser = browser->second;
  return start;
}

TBrowserFrames MeasureBrowserFrames(const TConfig& config) {
  const TBrowserOutput output = RunBrowser(config, {"frames", Fixed(kKelvoHarbourFromMs / 1000, 1), Fixed(config.FrameSeconds, 1)});
  std::optional<double> mapped = TimeOf(output.Console, kWebWindowLines.Mapped);
  if (!mapped) throw std::runtime_error("the browser's frames: no mapped-window line");
  TBrowserFrames frames;
  // A report counts the second before it: the first one a second into the harbour.
  frames.Fps = MeanReport(output.Console, *mapped + kKelvoHarbourFromMs + 1000);
  if (frames.Fps <= 0) throw std::runtime_error("the browser's frames: no frame-rate report in the harbour");
  frames.MsPerFrame = 1000 / frames.Fps;
  const double windowMs = output.Number("cpu_window_ms").value_or(0);
  if (windowMs > 0) frames.CpuMsPerFrame = output.Number("cpu_ms").value_or(0) / (windowMs / 1000 * frames.Fps);
  frames.ModuleBytes = output.Number("module_bytes").value_or(0);
  frames.JsHeapUsed = output.Number("js_heap_used").value_or(0);
  frames.JsHeapTotal = output.Number("js_heap_total").value_or(0);
  frames.Rss = output.Number("rss_bytes").value_or(0);
  frames.Pss = output.Number("pss_bytes").value_or(0);
  frames.Processes = static_cast<int>(output.Number("processes").value_or(0));
  if (auto canvas = output.Figures.find("canvas"); canvas != output.Figures.end()) frames.Canvas = canvas->second;
  return frames;
}

// The web page in the browser against kelvo: start-up, then the harbour's frames, the two
// alternating run by run, one start of each first not counted (the browser's first start
// in a fresh profile also compiles the module for its cache).
void MeasureInBrowser(const TConfig& config, const TSide& kelvo, TWebComparison& web) {
  for (const auto& file : std::filesystem::directory_iterator(config.WebPage)) {
    if (!file.is_regular_file()) continue;
    web.PageFiles.emplace_back(file.path().filename().string(), file.file_size());
    web.PageBytes += file.file_size();
  }
  std::sort(web.PageFiles.begin(), web.PageFiles.end());
  Say("the browser: warming up (one start-up of each, not counted)");
  MeasureStartup(kelvo);
  MeasureBrowserStart(config, web);
  for (int run = 1; run <= config.Runs; ++run) {
    web.Start.push_back(MeasureStartup(kelvo));
    web.BrowserStart.push_back(MeasureBrowserStart(config, web));
    Say("start-up " + std::to_string(run) + ", kelvo to its window and the page to its first frame: " +
        Fixed(web.Start.back().Phases.Total) + " ms, " + Fixed(web.BrowserStart.back().FirstFrameMs) + " ms");
  }
  if (!config.Frames) return;
  for (int run = 1; run <= config.Runs; ++run) {
    web.Frames.push_back(MeasureReportedFrames(kelvo, config));
    web.BrowserFrames.push_back(MeasureBrowserFrames(config));
    Say("frames from the reports " + std::to_string(run) + ", kelvo and the page: " +
        Fixed(web.Frames.back().MsPerFrame) + " ms, " + Fixed(web.BrowserFrames.back().MsPerFrame) + " ms; the browser holds " +
        Mb(web.BrowserFrames.back().Pss) + " MB (proportional)");
  }
}

// ---------------------------------------------------------------------------------------
// Outside the measurements.


std::string Now() {
  std::time_t now = std::time(nullptr);
  char text[64];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M %Z", std::localtime(&now));
  return text;
}

std::string GLRenderer(const std::string& floor, const std::string& kelvo) {
  TRunRequest request;
  request.Program = floor;
  request.Arguments = {"--store", kelvo};
  request.StopAfterMappedMs = 0;
  request.TimeoutMs = 30000;
  TRunResult run = RunProgram(request);
  for (const TLine& line : run.Lines) {
    const std::string mark = "[floor] INFO: GL renderer: ";
    if (line.Text.rfind(mark, 0) == 0) return line.Text.substr(mark.size());
  }
  return "unknown";
}

// The version the Wine session's wine prints ("wine-8.0 (Debian 8.0~repack-4)").
std::string WineVersion() {
  TRunRequest request;
  request.Program = "wine";
  request.Arguments = {"--version"};
  request.TimeoutMs = 30000;
  TRunResult run = RunProgram(request);
  for (const TLine& line : run.Lines)
    if (line.Text.starts_with("wine")) return line.Text;
  return "Wine";
}

// Empties the page cache (root only), so the next start reads the executable from disk.
void DropCaches() {
  sync();
  std::ofstream control("/proc/sys/vm/drop_caches");
  control << "3\n";
  control.flush();
  if (!control) throw std::runtime_error("cannot write /proc/sys/vm/drop_caches (cold start-up needs root)");
}




TConfig ParseArguments(int argc, char** argv) {
  TConfig config;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::runtime_error(option + " needs a value");
      return argv[++i];
    };
    if (option == "--kelvo") config.Kelvo = value();
    else if (option == "--floor") config.Floor = value();
    else if (option == "--glprobe") config.GLProbe = value();
    else if (option == "--allocprobe") config.AllocProbe = value();
    else if (option == "--out") config.Out = value();
    else if (option == "--command") config.Command = value();
    else if (option == "--runs") config.Runs = std::stoi(value());
    else if (option == "--frame-seconds") config.FrameSeconds = std::stod(value());
    else if (option == "--no-full") config.Full = false;
    else if (option == "--baseline") config.Baseline = value();
    else if (option == "--no-frames") config.Frames = false;
    else if (option == "--gllimit") config.GLLimit = value();
    else if (option == "--tessic-exe") config.TessicExe = value();
    else if (option == "--wine") config.WineRunner = value();
    else if (option == "--web-page") config.WebPage = value();
    else if (option == "--web-driver") config.WebDriver = value();
    else if (option == "--web-renderer") config.WebRenderer = value();
    else if (option == "--web-only") config.WebOnly = true;
    else throw std::runtime_error("unknown option " + option);
  }
  if (config.Kelvo.empty() || config.Floor.empty() || config.GLProbe.empty() || config.AllocProbe.empty() ||
      config.Out.empty() || config.Runs < 1 || config.FrameSeconds <= 0 ||
      config.TessicExe.empty() != config.WineRunner.empty() || config.WebPage.empty() != config.WebDriver.empty() ||
      (config.WebOnly && config.WebPage.empty()))
    throw std::runtime_error(
        "usage: kelvo-bench --kelvo EXE --floor EXE --glprobe SO --allocprobe SO --out FILE "
        "[--command TEXT] [--runs N] [--frame-seconds S] [--no-full] [--no-frames] [--baseline EXE] [--gllimit SO] "
        "[--tessic-exe EXE --wine SCRIPT] [--web-page DIR --web-driver SCRIPT [--web-renderer gl|swiftshader] [--web-only]]");
  config.Kelvo = Real(config.Kelvo);
  config.Floor = Real(config.Floor);
  config.GLProbe = Real(config.GLProbe);
  config.AllocProbe = Real(config.AllocProbe);
  if (!config.Baseline.empty()) config.Baseline = Real(config.Baseline);
  if (!config.GLLimit.empty()) config.GLLimit = Real(config.GLLimit);
  if (!config.WebPage.empty()) {
    config.WebPage = Real(config.WebPage);
    config.WebDriver = Real(config.WebDriver);
  }
  if (!config.TessicExe.empty()) {
    config.TessicExe = Real(config.TessicExe);
    config.WineRunner = Real(config.WineRunner);
    // Outside a session every run would make a prefix of its own, and its start-up would
    // count the copy and the services' start.
    if (std::getenv("KELVO_WINE_DIR") == nullptr)
      throw std::runtime_error("--tessic-exe needs a Wine session: run it inside scripts/wine-session");
  }
  return config;
}

// What the report says of the machine and the run before anything is measured.
void DescribeRun(const TConfig& config, TResults& r) {
  r.Date = Now();
  r.PictureCount = DesignOf(config.Kelvo, config.Kelvo).PictureSizes.size();
  r.Machine = MachineDescription();
  r.LoadBefore = LoadAverage();
  r.Renderer = GLRenderer(config.Floor, config.Kelvo);
  if (!config.TessicExe.empty()) r.WineVersion = WineVersion();
}

// The start-ups of kelvo and of the floor, alternating, after one of each not counted.
void MeasureStartups(const TConfig& config, const TSide& kelvo, const TSide& floor, TResults& r) {
  Say("warming up (one start-up of each, not counted)");
  MeasureStartup(kelvo);
  MeasureStartup(floor);
  for (int run = 1; run <= config.Runs; ++run) {
    r.StartKelvo.push_back(MeasureStartup(kelvo));
    r.StartFloor.push_back(MeasureStartup(floor));
    Say("start-up " + std::to_string(run) + ": kelvo " + Fixed(r.StartKelvo.back().Phases.Total) + " ms, floor " +
        Fixed(r.StartFloor.back().Phases.Total) + " ms");
  }
}

// kelvo's start-up with the full atlas and with the atlas packed under a lowered GL limit.
void MeasureAtlas(const TConfig& config, const TSide& kelvo, TResults& r) {
  const TSide packed{"kelvo", config.Kelvo, {}, kKelvoHarbourFromMs,
                     {{"LD_PRELOAD", config.GLLimit}, {kGLMaxTextureSizeVariable, std::to_string(kPackedAtlasLimit)}}};
  MeasureStartup(packed);
  for (int run = 1; run <= config.Runs; ++run) {
    r.Atlas[0].push_back(MeasureStartup(kelvo));
    r.Atlas[1].push_back(MeasureStartup(packed));
    Say("start-up " + std::to_string(run) + ", full atlas and packed: " + Fixed(r.Atlas[0].back().Phases.Total) +
        " ms, " + Fixed(r.Atlas[1].back().Phases.Total) + " ms; peak " + Mb(r.Atlas[0].back().PeakBytes) + " MB, " +
        Mb(r.Atlas[1].back().PeakBytes) + " MB");
  }
}

// Warm and cold start-ups of the build before the store's compression, kelvo and the floor.
void MeasureStore(const TConfig& config, const TSide& kelvo, const TSide& floor, TResults& r) {
  // The uncompressed build prints the same lines, so it is timed as kelvo is.
  const TSide compared[3] = {{"kelvo", config.Baseline, {}, kKelvoHarbourFromMs}, kelvo, floor};
  r.Store.Sizes[0] = std::filesystem::file_size(config.Baseline);
  r.Store.Sizes[1] = std::filesystem::file_size(config.Kelvo);
  MeasureStartup(compared[0]);
  for (int cold = 0; cold < 2; ++cold) {
    for (int run = 1; run <= config.Runs; ++run) {
      std::ostringstream line;
      line << (cold ? "cold" : "warm") << " start-up " << run << " (before, now, floor):";
      for (int i = 0; i < 3; ++i) {
        if (cold) DropCaches();
        auto& runs = (cold ? r.Store.Cold : r.Store.Warm)[i];
        runs.push_back(MeasureStartup(compared[i]));
        line << " " << Fixed(runs.back().Phases.Total) << " ms";
      }
      Say(line.str());
    }
  }
}

// Frame times of kelvo and the floor, with the greeting off screen and with all its glyphs on.
void MeasureFrameTimes(const TConfig& config, const TSide& kelvo, const TSide& floor, TResults& r) {
  for (int wrap = 0; wrap < 2; ++wrap) {
    auto& ours = wrap ? r.OnKelvo : r.OffKelvo;
    auto& base = wrap ? r.OnFloor : r.OffFloor;
    for (int run = 1; run <= config.Runs; ++run) {
      ours.push_back(MeasureFrames(kelvo, config, wrap == 1, config.GLProbe));
      base.push_back(MeasureFrames(floor, config, wrap == 1, config.GLProbe));
      Say(std::string(wrap ? "frames, all glyphs on screen " : "frames, text off screen ") + std::to_string(run) +
          ": kelvo " + Fixed(ours.back().Stats.MedianMs) + " ms, floor " + Fixed(base.back().Stats.MedianMs) + " ms");
    }
  }
}

// Whole runs of kelvo and the floor: peak memory and the sound's underruns.
void MeasureFullRuns(const TConfig& config, const TSide& kelvo, const TSide& floor, TResults& r) {
  for (int run = 1; run <= config.Runs; ++run) {
    r.FullKelvo.push_back(MeasureFull(kelvo, config.AllocProbe, config.Kelvo, std::nullopt));
    r.FullFloor.push_back(MeasureFull(floor, config.AllocProbe, config.Kelvo, kFloorMemoryMs));
    Say("full run " + std::to_string(run) + ": kelvo peak " + Mb(r.FullKelvo.back().PeakBytes) + " MB, " +
        std::to_string(r.FullKelvo.back().Underruns) + " underruns; floor peak " + Mb(r.FullFloor.back().PeakBytes) +
        " MB");
  }
}

// The measurements the options ask for, in order, into the report.
void Measure(const TConfig& config) {
  if (std::getenv("DISPLAY") == nullptr) throw std::runtime_error("no DISPLAY: run under scripts/headless");
  TResults r;
  DescribeRun(config, r);
  const TSide kelvo{"kelvo", config.Kelvo, {}, kKelvoHarbourFromMs};
  const TSide floor{"floor", config.Floor, {"--store", config.Kelvo, "--reports", "100000"}, kFloorHarbourFromMs};
  if (!config.WebOnly) {
    MeasureStartups(config, kelvo, floor, r);
    if (!config.GLLimit.empty()) MeasureAtlas(config, kelvo, r);
    if (!config.Baseline.empty()) MeasureStore(config, kelvo, floor, r);
    if (config.Frames) MeasureFrameTimes(config, kelvo, floor, r);
    if (!config.TessicExe.empty()) MeasureUnderWine(config, kelvo, r.Wine);
  }
  if (!config.WebPage.empty()) MeasureInBrowser(config, kelvo, r.Web);
  if (config.Full && !config.WebOnly) MeasureFullRuns(config, kelvo, floor, r);
  r.LoadAfter = LoadAverage();
  WriteReport(config, r);
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  try {
    Measure(ParseArguments(argc, argv));
  } catch (const std::exception& error) {
    std::cerr << "kelvo-bench: " << error.what() << std::endl;
    status = 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(TempDirectory(), ignored);
  return status;
}
