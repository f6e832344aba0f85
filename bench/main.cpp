// kelvo-bench: measures kelvo against the floor program and writes the results as Markdown.
// Runs under scripts/headless (it needs the display and the audio sink). Every measurement
// alternates kelvo and the floor, run after run, and takes the median of the runs:
//   start-up   exec to "[uGLX] INFO: Mapped Window", by phase (from timestamped output)
//   frames     the harbour scene's time per frame, from the buffer swaps (LD_PRELOAD probe),
//              with the text mostly off screen and with every glyph quad moved on screen
//   memory     resident memory of a full run at its largest, sorted into the design's
//              buffers and the GL driver's (allocation probe, smaps and pagemap)
//   audio      "[uALSA] WARNING: Buffer underrun" lines over full runs of kelvo
//   store      with --baseline: start-up of a kelvo whose store is kept uncompressed, of
//              this kelvo and of the floor reading this kelvo's store, alternating, warm
//              (files in the page cache) and cold (page cache dropped before every run)
//
//   kelvo-bench --kelvo EXE --floor EXE --glprobe SO --allocprobe SO --out FILE
//               [--command TEXT] [--runs N] [--frame-seconds S] [--no-full] [--no-frames] [--baseline EXE]
//
// Depends on the benchmark's process runner, /proc reader and arithmetic, and on kelvo's
// store reader (to know the pictures' and the song's sizes).
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

#include "bench/measure.hpp"
#include "bench/procfs.hpp"
#include "bench/process.hpp"
#include "engine/loglines.hpp"
#include "engine/store.hpp"

namespace {

constexpr double kStartupStopMs = 300;
constexpr double kKelvoHarbourFromMs = 6000;  // 16 pictures of a quarter second, then 2 s of harbour
constexpr double kFloorHarbourFromMs = 2000;  // the floor starts with the harbour
constexpr double kSampleEveryMs = 2000;
constexpr double kFloorMemoryMs = 15000;
constexpr std::string_view kUnderrunLine = "[uALSA] WARNING: Buffer underrun";

struct TConfig {
  std::string Kelvo, Floor, GLProbe, AllocProbe, Out, Command = "kelvo-bench";
  int Runs = 5;
  double FrameSeconds = 15;
  bool Full = true;
  bool Frames = true;
  std::string Baseline;
};

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
    if (entry.Name.starts_with("TEX_")) design.PictureSizes.push_back(std::uint64_t{u32(head, 18)} * u32(head, 22) * 4);
    if (entry.Name == "SONG") design.SongSize = u32(head, 40);
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
};

// Steps inside the phases, between marks of each program's own output.
struct TStep {
  const char* Name;
  const char* KelvoFrom;
  const char* KelvoTo;
  const char* FloorFrom;
  const char* FloorTo;
};
const TStep kSteps[] = {
    {"font: glyphs rasterised into the atlas", "Rendering Bitmap", "Creating GL Texture", "atlas allocated",
     "glyphs in the atlas"},
    {"font: atlas upload", "Creating GL Texture", "found resource \"SONG\"", "glyphs in the atlas",
     "found resource \"SONG\""},
    {"song: temporary file round trip", "found resource \"SONG\"", "[uALSA] using audio device",
     "found resource \"SONG\"", "found resource \"TEX_"},
    {"song: ALSA set-up (kelvo only)", "[uALSA] using audio device", "found resource \"TEX_", nullptr, nullptr},
};
constexpr std::size_t kStepCount = sizeof kSteps / sizeof kSteps[0];

struct TStart {
  TStartup Phases;
  TThreadTimes Cpu;  // of all threads, read when the "Mapped Window" line arrived
  double Steps[kStepCount] = {};
  double Steal = 0;
  double PeakBytes = 0;  // VmHWM when the "Mapped Window" line arrived
};

TStart MeasureStartup(const TSide& side) {
  TStart start;
  TRunRequest request;
  request.Program = side.Program;
  request.Arguments = side.Arguments;
  request.StopAfterMappedMs = kStartupStopMs;
  request.TimeoutMs = 30000;
  request.OnLine = [&](pid_t pid, const TLine& line) {
    if (line.Text.find(kMappedWindowLine) == std::string::npos) return;
    if (std::optional<TThreadTimes> times = ThreadTimes(pid)) start.Cpu = *times;
    start.PeakBytes = StatusBytes(pid, "VmHWM").value_or(0);
  };
  TRunResult run = RunProgram(request);
  std::string error;
  std::optional<TStartup> startup = StartupPhases(run.Lines, error);
  if (!startup) RunFailed(side.Name + " start-up: " + error, run);
  start.Phases = *startup;
  start.Steal = run.StealShare;
  const bool isKelvo = side.Name == "kelvo";
  for (std::size_t i = 0; i < kStepCount; ++i) {
    const char* from = isKelvo ? kSteps[i].KelvoFrom : kSteps[i].FloorFrom;
    const char* to = isKelvo ? kSteps[i].KelvoTo : kSteps[i].FloorTo;
    if (from != nullptr) start.Steps[i] = Between(run.Lines, from, to).value_or(0);
  }
  return start;
}

struct TFrames {
  TFrameStats Stats;
  double ReportedFps = 0;  // mean of the frame-rate reports inside the window
  double CpuMsPerFrame = 0;  // processor time of all threads inside the window, per frame
  double Steal = 0;
};

// Processor time of the program's threads at a moment of the measuring window.
struct TCpuMark {
  std::uint64_t Ns = 0;
  TThreadTimes Times;
};

TFrames MeasureFrames(const TSide& side, const TConfig& config, bool wrapGlyphs, const std::string& glprobe) {
  const std::string log = TempFile(side.Name + "-swaps.bin");
  std::optional<double> mappedMs;
  std::optional<TCpuMark> first, last;
  TRunRequest request;
  request.Program = side.Program;
  request.Arguments = side.Arguments;
  request.Environment = {{"LD_PRELOAD", glprobe}, {"KELVO_BENCH_SWAP_LOG", log}};
  if (wrapGlyphs) request.Environment.emplace_back("KELVO_BENCH_WRAP_GLYPHS", "1");
  request.StopAfterMappedMs = side.HarbourFromMs + config.FrameSeconds * 1000;
  request.TimeoutMs = *request.StopAfterMappedMs + 60000;
  const std::uint64_t startNs = MonotonicNs();
  request.OnLine = [&](pid_t, const TLine& line) {
    if (!mappedMs && line.Text.find(kMappedWindowLine) != std::string::npos) mappedMs = line.Ms;
  };
  // The window opens at the first sample after the harbour has run for a while and closes
  // at the last one, taken just before the program is stopped.
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
  TFrames frames;
  frames.Steal = run.StealShare;
  const std::vector<std::uint64_t> swaps = ReadSwaps(log);
  frames.Stats = FrameStats(swaps, first->Ns, last->Ns);
  if (frames.Stats.Frames < 10) RunFailed(side.Name + " frames: too few buffer swaps logged", run);
  frames.CpuMsPerFrame = (last->Times.RunMs - first->Times.RunMs) / frames.Stats.Frames;
  // Frame-rate reports after the window start, for comparison with the swaps.
  std::vector<TLine> late;
  for (const TLine& line : run.Lines)
    if (line.Ms >= *run.MappedMs + side.HarbourFromMs + 1000) late.push_back(line);
  std::vector<int> reports = FrameReports(late);
  double sum = 0;
  for (int count : reports) sum += count;
  frames.ReportedFps = reports.empty() ? 0 : sum / static_cast<double>(reports.size());
  std::filesystem::remove(log);
  return frames;
}

struct TFull {
  TMemoryBreakdown Memory;
  double PeakBytes = 0;  // VmHWM
  int Underruns = 0;
  int Reports = 0;
  int ExitCode = -1;
  double HarbourFps = 0;  // mean of the reports from the 8th on
  double Steal = 0;
};

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
  full.Underruns = CountLines(run.Lines, kUnderrunLine);
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

// ---------------------------------------------------------------------------------------
// The report.

std::string Fixed(double value, int digits = 1) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(digits) << value;
  return text.str();
}

// Ratios of figures below 1 (a phase that takes no time) say nothing.
std::string Ratio(double ours, double floor) { return floor >= 1 ? Fixed(ours / floor, 2) : "-"; }

std::string Mb(double bytes) { return Fixed(bytes / 1048576.0, 1); }

std::string Verdict(bool met) { return met ? "**met**" : "**missed**"; }

template <class T, class F>
double MedianOf(const std::vector<T>& runs, F field) {
  std::vector<double> values;
  for (const T& run : runs) values.push_back(field(run));
  return Median(values);
}

template <class T, class F>
std::string Each(const std::vector<T>& runs, F field, int digits = 1) {
  std::string text;
  for (const T& run : runs) text += (text.empty() ? "" : ", ") + Fixed(field(run), digits);
  return text;
}

// The median of the ratios of the runs made one after the other (kelvo's run i against the
// floor's run i): a slow spell of the machine then weighs on both sides of a ratio.
template <class T, class F>
double PairedRatio(const std::vector<T>& ours, const std::vector<T>& floor, F field) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < ours.size() && i < floor.size(); ++i)
    if (field(floor[i]) > 0) ratios.push_back(field(ours[i]) / field(floor[i]));
  return Median(ratios);
}

std::string Percent(double share) { return Fixed(share * 100, 1) + " %"; }

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

// Empties the page cache (root only), so the next start reads the executable from disk.
void DropCaches() {
  sync();
  std::ofstream control("/proc/sys/vm/drop_caches");
  control << "3\n";
  control.flush();
  if (!control) throw std::runtime_error("cannot write /proc/sys/vm/drop_caches (cold start-up needs root)");
}

// Start-up of the three programs of the store comparison, warm and cold.
struct TStoreComparison {
  std::vector<TStart> Warm[3], Cold[3];
  std::uint64_t Sizes[2] = {};
};
const char* const kComparedNames[3] = {"kelvo, store uncompressed (before)", "kelvo, store compressed (now)",
                                       "floor, reading the compressed store"};

struct TResults {
  std::vector<TStart> StartKelvo, StartFloor;
  TStoreComparison Store;
  std::vector<TFrames> OffKelvo, OffFloor, OnKelvo, OnFloor;
  std::vector<TFull> FullKelvo, FullFloor;
  std::string Machine, Renderer, LoadBefore, LoadAfter, Date;
};

void WriteReport(const TConfig& config, const TResults& r) {
  std::ostringstream md;
  md << "# kelvo against the floor\n\n"
     << "Figures of the last run of `./bench.sh`; every figure is the median of " << config.Runs
     << " runs, kelvo and the floor program (`bench/floor.cpp`) alternating, under `scripts/headless` "
        "(Xvfb 1920x1080, Mesa's software renderer, PulseAudio null sink).\n\n"
     << "- Date: " << r.Date << "\n"
     << "- Machine: " << r.Machine << "\n"
     << "- GL: " << r.Renderer << "\n"
     << "- Load average before / after: " << r.LoadBefore << " / " << r.LoadAfter
     << " (other work on the machine slows both programs alike, but widens the spread)\n"
     << "- Command: `" << config.Command << "`\n\n";

  // Start-up.
  const double kelvoTotal = MedianOf(r.StartKelvo, [](const TStart& s) { return s.Phases.Total; });
  const double floorTotal = MedianOf(r.StartFloor, [](const TStart& s) { return s.Phases.Total; });
  md << "## Start-up: exec to \"" << kMappedWindowLine << "\"\n\n"
     << "| phase | kelvo ms | floor ms | ratio |\n|---|---:|---:|---:|\n";
  struct TPhase {
    const char* Name;
    double TStartup::*Field;
  };
  const TPhase phases[] = {{"display (exec, X, GLX context, GL state)", &TStartup::Display},
                           {"font atlas (store mapped, glyphs, 8192x8192 upload)", &TStartup::Font},
                           {"song (temporary file round trip; kelvo also sets up ALSA)", &TStartup::Song},
                           {"pictures (20 reads and uploads)", &TStartup::Pictures},
                           {"renderers (37 registered, window mapped)", &TStartup::Renderers},
                           {"**total**", &TStartup::Total}};
  for (const TPhase& phase : phases) {
    const double ours = MedianOf(r.StartKelvo, [&](const TStart& s) { return s.Phases.*phase.Field; });
    const double floor = MedianOf(r.StartFloor, [&](const TStart& s) { return s.Phases.*phase.Field; });
    md << "| " << phase.Name << " | " << Fixed(ours) << " | " << Fixed(floor) << " | " << Ratio(ours, floor) << " |\n";
  }
  for (std::size_t i = 0; i < kStepCount; ++i) {
    const double ours = MedianOf(r.StartKelvo, [&](const TStart& s) { return s.Steps[i]; });
    const double floor = MedianOf(r.StartFloor, [&](const TStart& s) { return s.Steps[i]; });
    md << "| &nbsp;&nbsp;" << kSteps[i].Name << " | " << Fixed(ours) << " | " << Fixed(floor) << " | "
       << Ratio(ours, floor) << " |\n";
  }
  md << "\nTarget: start-up at most 1.3 x the floor: " << Ratio(kelvoTotal, floorTotal) << " x, "
     << Verdict(kelvoTotal <= 1.3 * floorTotal) << ".\n"
     << "Median of the paired ratios (run i of kelvo against run i of the floor): "
     << Fixed(PairedRatio(r.StartKelvo, r.StartFloor, [](const TStart& s) { return s.Phases.Total; }), 2) << ".\n"
     << "Each run's total (ms): kelvo " << Each(r.StartKelvo, [](const TStart& s) { return s.Phases.Total; })
     << "; floor " << Each(r.StartFloor, [](const TStart& s) { return s.Phases.Total; }) << ".\n\n";
  const double kelvoCpu = MedianOf(r.StartKelvo, [](const TStart& s) { return s.Cpu.RunMs; });
  const double floorCpu = MedianOf(r.StartFloor, [](const TStart& s) { return s.Cpu.RunMs; });
  md << "Processor time of all threads up to that line (less sensitive to other work on the machine): kelvo "
     << Fixed(kelvoCpu) << " ms, floor " << Fixed(floorCpu) << " ms, ratio " << Ratio(kelvoCpu, floorCpu)
     << "; time spent waiting for a processor: kelvo "
     << Fixed(MedianOf(r.StartKelvo, [](const TStart& s) { return s.Cpu.WaitMs; })) << " ms, floor "
     << Fixed(MedianOf(r.StartFloor, [](const TStart& s) { return s.Cpu.WaitMs; })) << " ms.\n"
     << "Processor time the hypervisor gave other guests during the runs (median): kelvo "
     << Percent(MedianOf(r.StartKelvo, [](const TStart& s) { return s.Steal; })) << ", floor "
     << Percent(MedianOf(r.StartFloor, [](const TStart& s) { return s.Steal; })) << ".\n\n";

  if (!config.Baseline.empty()) {
    const TStoreComparison& c = r.Store;
    md << "## Start-up with the compressed store\n\n"
       << "Exec to \"" << kMappedWindowLine << "\" of kelvo built with its store uncompressed (" << Mb(c.Sizes[0])
       << " MB executable), of this kelvo (" << Mb(c.Sizes[1])
       << " MB), and of the floor reading this kelvo's store; the three alternate run by run. Warm: the files "
          "are in the page cache. Cold: the page cache is dropped (echo 3 > /proc/sys/vm/drop_caches) before every "
          "run. The machine was shared with other work during the runs (load average above), which widens the "
          "spread; the ratios come from the same alternating runs, and the fastest run of each is given beside "
          "the median. CPU ms is the processor time of all threads up to that line, which other work on the "
          "machine hardly changes (but which leaves out waiting for the disk). Peak resident memory is VmHWM when "
          "the window maps.\n\n"
       << "| start | program | median ms | fastest ms | ratio to before (median) | ratio to before (fastest) | "
          "CPU ms | CPU ratio to before | peak resident MB |\n|---|---|---:|---:|---:|---:|---:|---:|---:|\n";
    auto cpu = [](const TStart& s) { return s.Cpu.RunMs; };
    auto total = [](const TStart& s) { return s.Phases.Total; };
    auto fastest = [&](const std::vector<TStart>& runs) {
      double best = 1e300;
      for (const TStart& s : runs) best = std::min(best, total(s));
      return best;
    };
    for (int cold = 0; cold < 2; ++cold) {
      const auto& sides = cold ? c.Cold : c.Warm;
      const double before = MedianOf(sides[0], total);
      const double beforeFastest = fastest(sides[0]);
      const double beforeCpu = MedianOf(sides[0], cpu);
      for (int i = 0; i < 3; ++i) {
        const double median = MedianOf(sides[i], total);
        md << "| " << (cold ? "cold" : "warm") << " | " << kComparedNames[i] << " | " << Fixed(median) << " | "
           << Fixed(fastest(sides[i])) << " | " << Ratio(median, before) << " | "
           << Ratio(fastest(sides[i]), beforeFastest) << " | " << Fixed(MedianOf(sides[i], cpu)) << " | "
           << Ratio(MedianOf(sides[i], cpu), beforeCpu) << " | "
           << Mb(static_cast<std::uint64_t>(MedianOf(sides[i], [](const TStart& s) { return s.PeakBytes; }))) << " |\n";
      }
    }
    const double warmRatio = MedianOf(c.Warm[1], total) / MedianOf(c.Warm[0], total);
    const double coldRatio = MedianOf(c.Cold[1], total) / MedianOf(c.Cold[0], total);
    const double peakRatio = MedianOf(c.Warm[1], [](const TStart& s) { return s.PeakBytes; }) /
                             MedianOf(c.Warm[0], [](const TStart& s) { return s.PeakBytes; });
    md << "\nTargets: warm at most 1.15 x before: " << Fixed(warmRatio, 2) << " x, " << Verdict(warmRatio <= 1.15)
       << "; cold faster than before: " << Fixed(coldRatio, 2) << " x, " << Verdict(coldRatio < 1.0)
       << "; peak resident memory no higher: " << Fixed(peakRatio, 2) << " x, " << Verdict(peakRatio <= 1.0) << ".\n"
       << "Paired ratios (run i against run i of before): warm "
       << Fixed(PairedRatio(c.Warm[1], c.Warm[0], total), 2) << ", cold "
       << Fixed(PairedRatio(c.Cold[1], c.Cold[0], total), 2) << "; the floor against this kelvo: warm "
       << Ratio(MedianOf(c.Warm[1], total), MedianOf(c.Warm[2], total)) << ", cold "
       << Ratio(MedianOf(c.Cold[1], total), MedianOf(c.Cold[2], total)) << ".\n";
    for (int cold = 0; cold < 2; ++cold)
      for (int i = 0; i < 3; ++i)
        md << (i == 0 ? std::string(cold ? "Cold" : "Warm") + " runs (ms): " : "; ") << kComparedNames[i] << " "
           << Each(cold ? c.Cold[i] : c.Warm[i], total) << (i == 2 ? ".\n" : "");
    md << "\n";
  }

  // Frames.
  if (r.OffKelvo.empty()) {
    md << "(Frames of the harbour scene not measured in this run: --no-frames.)\n\n";
  } else {
  md << "## Frames of the harbour scene\n\n"
     << "Time between buffer swaps (median over " << Fixed(config.FrameSeconds, 0)
     << " s of the harbour scene per run, then the median of the runs), from an LD_PRELOAD probe "
        "(`bench/glprobe.cpp`) loaded into both programs; the frame-rate reports agree. The paired ratio is "
        "the median of run i of kelvo against run i of the floor. CPU ms/frame is the processor time of all the "
        "program's threads (its own and the software renderer's) over the same window, per frame: it hardly "
        "changes when other work competes for the two processors, while the time per frame does.\n\n"
     << "| text | kelvo ms/frame | floor ms/frame | ratio | paired ratio | kelvo CPU ms/frame | floor CPU ms/frame | "
        "CPU ratio | kelvo fps (reports) | floor fps (reports) |\n"
     << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  bool framesMet = true;
  bool cpuMet = true;
  auto frameRow = [&](const char* name, const std::vector<TFrames>& ours, const std::vector<TFrames>& floor) {
    const double k = MedianOf(ours, [](const TFrames& f) { return f.Stats.MedianMs; });
    const double f = MedianOf(floor, [](const TFrames& f) { return f.Stats.MedianMs; });
    framesMet = framesMet && k <= 1.1 * f;
    const double paired = PairedRatio(ours, floor, [](const TFrames& f) { return f.Stats.MedianMs; });
    const double kCpu = MedianOf(ours, [](const TFrames& f) { return f.CpuMsPerFrame; });
    const double fCpu = MedianOf(floor, [](const TFrames& f) { return f.CpuMsPerFrame; });
    cpuMet = cpuMet && kCpu <= 1.1 * fCpu;
    md << "| " << name << " | " << Fixed(k) << " | " << Fixed(f) << " | " << Ratio(k, f) << " | "
       << Fixed(paired, 2) << " | " << Fixed(kCpu) << " | " << Fixed(fCpu) << " | " << Ratio(kCpu, fCpu) << " | "
       << Fixed(MedianOf(ours, [](const TFrames& f) { return f.ReportedFps; })) << " | "
       << Fixed(MedianOf(floor, [](const TFrames& f) { return f.ReportedFps; })) << " |\n";
  };
  frameRow("mostly off screen (as in the demo)", r.OffKelvo, r.OffFloor);
  if (!r.OnKelvo.empty()) frameRow("all 435 glyph quads on screen", r.OnKelvo, r.OnFloor);
  md << "\nTarget: at most 1.1 x the floor: " << Verdict(framesMet) << ".";
  if (!framesMet && cpuMet)
    md << " The processor time per frame is within the target, so the difference in time per frame comes from "
          "other work on the machine during the runs: run ./bench.sh again on an idle machine.";
  md << "\n"
     << "Each run's median (ms), text off screen: kelvo "
     << Each(r.OffKelvo, [](const TFrames& f) { return f.Stats.MedianMs; }) << "; floor "
     << Each(r.OffFloor, [](const TFrames& f) { return f.Stats.MedianMs; }) << ".\n";
  if (!r.OnKelvo.empty())
    md << "All glyphs on screen: kelvo " << Each(r.OnKelvo, [](const TFrames& f) { return f.Stats.MedianMs; })
       << "; floor " << Each(r.OnFloor, [](const TFrames& f) { return f.Stats.MedianMs; }) << ".\n"
       << "Hypervisor steal during the runs, text off screen: kelvo "
       << Each(r.OffKelvo, [](const TFrames& f) { return f.Steal * 100; }) << " %; floor "
       << Each(r.OffFloor, [](const TFrames& f) { return f.Steal * 100; }) << " %.\n"
       << "(The probe moves every quad drawn with the atlas, whole, to its position modulo the screen width, "
          "in both programs alike.)\n";
  md << "\n";
  }

  if (!r.FullKelvo.empty()) {
    md << "## Memory: resident at the largest sample of a full run\n\n"
       << "Sampled every " << Fixed(kSampleEveryMs / 1000, 0)
       << " s. Heap blocks of 1 MiB or more are attributed by an allocation probe (`bench/allocprobe.cpp`) to "
          "the code that asked for them, and counted page by page (pagemap; pages that were only read, such "
          "as the untouched parts of the calloc'd atlas, map the zero page and do not count). kelvo: full runs "
          "of 86 reports; floor: "
       << Fixed(kFloorMemoryMs / 1000, 0) << " s of harbour frames.\n\n"
       << "| part | kelvo MB | floor MB |\n|---|---:|---:|\n";
    struct TPart {
      const char* Name;
      double TMemoryBreakdown::*Field;
    };
    const TPart parts[] = {{"pictures (20 pixel buffers)", &TMemoryBreakdown::Pictures},
                           {"atlas (written pages of the 256 MiB buffer)", &TMemoryBreakdown::Atlas},
                           {"song (sample buffer)", &TMemoryBreakdown::Song},
                           {"store mapping (pages of the executable read)", &TMemoryBreakdown::Store},
                           {"GL driver (texture copies, scene memory, code, XShm images)", &TMemoryBreakdown::Driver},
                           {"other large buffers of the program", &TMemoryBreakdown::UnexpectedBytes},
                           {"rest (libraries, small heap, stacks, audio)", &TMemoryBreakdown::Rest},
                           {"**resident at that sample**", &TMemoryBreakdown::Total}};
    for (const TPart& part : parts) {
      md << "| " << part.Name << " | " << Mb(MedianOf(r.FullKelvo, [&](const TFull& f) { return f.Memory.*part.Field; }))
         << " | " << Mb(MedianOf(r.FullFloor, [&](const TFull& f) { return f.Memory.*part.Field; })) << " |\n";
    }
    const double kelvoPeak = MedianOf(r.FullKelvo, [](const TFull& f) { return f.PeakBytes; });
    const double floorPeak = MedianOf(r.FullFloor, [](const TFull& f) { return f.PeakBytes; });
    md << "| **peak resident (VmHWM)** | " << Mb(kelvoPeak) << " | " << Mb(floorPeak) << " |\n\n";

    const std::size_t pictures = DesignOf(config.Kelvo, config.Kelvo).PictureSizes.size();
    bool memoryMet = true;
    std::vector<std::string> findings;
    for (const TFull& full : r.FullKelvo) {
      const TMemoryBreakdown& m = full.Memory;
      if (static_cast<std::size_t>(m.PictureBuffers) != pictures || m.SongBuffers != 1 || m.AtlasBuffers != 1 ||
          !m.Unexpected.empty() || !m.Transient.empty()) {
        memoryMet = false;
        std::string finding = std::to_string(m.PictureBuffers) + " picture, " + std::to_string(m.SongBuffers) +
                              " song, " + std::to_string(m.AtlasBuffers) + " atlas buffers";
        for (const std::string& extra : m.Unexpected) finding += "; extra: " + extra;
        for (const std::string& gone : m.Transient) finding += "; freed: " + gone;
        findings.push_back(finding);
      }
    }
    const double kelvoAtlas = MedianOf(r.FullKelvo, [](const TFull& f) { return f.Memory.Atlas; });
    const double floorAtlas = MedianOf(r.FullFloor, [](const TFull& f) { return f.Memory.Atlas; });
    const bool atlasOnce = kelvoAtlas <= floorAtlas * 1.05 + 1048576.0;
    md << "Buffers of kelvo's own code of 1 MiB or more, in every run: one per picture (" << pictures
       << "), one song, one atlas, nothing else and nothing allocated and dropped: "
       << (memoryMet ? "yes" : "no") << ".\n";
    for (const std::string& finding : findings) md << "- " << finding << "\n";
    md << "The atlas's written pages: kelvo " << Mb(kelvoAtlas) << " MB, floor " << Mb(floorAtlas)
       << " MB (a clearing pass would write all 256 MiB): " << (atlasOnce ? "never cleared" : "cleared") << ".\n\n"
       << "Target: no buffer beyond the design's: " << Verdict(memoryMet && atlasOnce) << ".\n"
       << "Peak resident memory: kelvo " << Ratio(kelvoPeak, floorPeak) << " x the floor.\n\n";

    // Audio.
    int underruns = 0;
    for (const TFull& full : r.FullKelvo) underruns += full.Underruns;
    md << "## Audio: underruns over full runs\n\n"
       << "\"[uALSA] WARNING: Buffer underrun\" lines per full run of kelvo (86 reports, the frame loop busy "
          "on one core and the software renderer's threads on the others): "
       << Each(r.FullKelvo, [](const TFull& f) { return static_cast<double>(f.Underruns); }, 0) << ".\n"
       << "Exit statuses: " << Each(r.FullKelvo, [](const TFull& f) { return static_cast<double>(f.ExitCode); }, 0)
       << "; frame-rate reports: " << Each(r.FullKelvo, [](const TFull& f) { return static_cast<double>(f.Reports); }, 0)
       << "; harbour frame rate (mean of the reports from the 8th on): "
       << Each(r.FullKelvo, [](const TFull& f) { return f.HarbourFps; }) << " fps; hypervisor steal: "
       << Each(r.FullKelvo, [](const TFull& f) { return f.Steal * 100; }) << " %.\n\n"
       << "Target: 0 underruns: " << Verdict(underruns == 0) << ".\n";
  }

  std::ofstream out(config.Out);
  out << md.str();
  if (!out) throw std::runtime_error("cannot write " + config.Out);
  std::cout << md.str();
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
    else throw std::runtime_error("unknown option " + option);
  }
  if (config.Kelvo.empty() || config.Floor.empty() || config.GLProbe.empty() || config.AllocProbe.empty() ||
      config.Out.empty() || config.Runs < 1 || config.FrameSeconds <= 0)
    throw std::runtime_error(
        "usage: kelvo-bench --kelvo EXE --floor EXE --glprobe SO --allocprobe SO --out FILE "
        "[--command TEXT] [--runs N] [--frame-seconds S] [--no-full] [--no-frames] [--baseline EXE]");
  config.Kelvo = Real(config.Kelvo);
  config.Floor = Real(config.Floor);
  config.GLProbe = Real(config.GLProbe);
  config.AllocProbe = Real(config.AllocProbe);
  if (!config.Baseline.empty()) config.Baseline = Real(config.Baseline);
  return config;
}

}  // namespace

int main(int argc, char** argv) {
  int status = 0;
  try {
    const TConfig config = ParseArguments(argc, argv);
    if (std::getenv("DISPLAY") == nullptr) throw std::runtime_error("no DISPLAY: run under scripts/headless");
    TResults r;
    r.Date = Now();
    r.Machine = MachineDescription();
    r.LoadBefore = LoadAverage();
    r.Renderer = GLRenderer(config.Floor, config.Kelvo);

    const TSide kelvo{"kelvo", config.Kelvo, {}, kKelvoHarbourFromMs};
    const TSide floor{"floor", config.Floor, {"--store", config.Kelvo, "--reports", "100000"}, kFloorHarbourFromMs};

    Say("warming up (one start-up of each, not counted)");
    MeasureStartup(kelvo);
    MeasureStartup(floor);
    for (int run = 1; run <= config.Runs; ++run) {
      r.StartKelvo.push_back(MeasureStartup(kelvo));
      r.StartFloor.push_back(MeasureStartup(floor));
      Say("start-up " + std::to_string(run) + ": kelvo " + Fixed(r.StartKelvo.back().Phases.Total) + " ms, floor " +
          Fixed(r.StartFloor.back().Phases.Total) + " ms");
    }
    if (!config.Baseline.empty()) {
      // The uncompressed build prints the same lines, so it is timed as kelvo is.
      const TSide compared[3] = {{"kelvo", config.Baseline, {}, kKelvoHarbourFromMs},
                                 kelvo,
                                 floor};
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
    for (int wrap = 0; wrap < (config.Frames ? 2 : 0); ++wrap) {
      auto& ours = wrap ? r.OnKelvo : r.OffKelvo;
      auto& base = wrap ? r.OnFloor : r.OffFloor;
      for (int run = 1; run <= config.Runs; ++run) {
        ours.push_back(MeasureFrames(kelvo, config, wrap == 1, config.GLProbe));
        base.push_back(MeasureFrames(floor, config, wrap == 1, config.GLProbe));
        Say(std::string(wrap ? "frames, all glyphs on screen " : "frames, text off screen ") + std::to_string(run) +
            ": kelvo " + Fixed(ours.back().Stats.MedianMs) + " ms, floor " + Fixed(base.back().Stats.MedianMs) + " ms");
      }
    }
    if (config.Full) {
      for (int run = 1; run <= config.Runs; ++run) {
        r.FullKelvo.push_back(MeasureFull(kelvo, config.AllocProbe, config.Kelvo, std::nullopt));
        r.FullFloor.push_back(MeasureFull(floor, config.AllocProbe, config.Kelvo, kFloorMemoryMs));
        Say("full run " + std::to_string(run) + ": kelvo peak " + Mb(r.FullKelvo.back().PeakBytes) + " MB, " +
            std::to_string(r.FullKelvo.back().Underruns) + " underruns; floor peak " +
            Mb(r.FullFloor.back().PeakBytes) + " MB");
      }
    }
    r.LoadAfter = LoadAverage();
    WriteReport(config, r);
  } catch (const std::exception& error) {
    std::cerr << "kelvo-bench: " << error.what() << std::endl;
    status = 1;
  }
  std::error_code ignored;
  std::filesystem::remove_all(TempDirectory(), ignored);
  return status;
}
