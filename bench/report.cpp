// The benchmark's Markdown report (see report.hpp).
#include "bench/report.hpp"

#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <string_view>

#include "base/facts.hpp"
#include "platform/loglines.hpp"

std::string Fixed(double value, int digits) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(digits) << value;
  return text.str();
}

std::string Mb(double bytes) { return Fixed(bytes / 1048576.0, 1); }

namespace {

// Ratios of figures below 1 (a phase that takes no time) say nothing.
std::string Ratio(double ours, double floor) { return floor >= 1 ? Fixed(ours / floor, 2) : "-"; }

std::string Verdict(bool met) { return met ? "**met**" : "**missed**"; }

template <class T, class F>
double MedianOf(const std::vector<T>& runs, F field) {
  std::vector<double> values;
  for (const T& run : runs) values.push_back(field(run));
  return Median(values);
}

template <class T, class F>
double FastestOf(const std::vector<T>& runs, F field) {
  double best = 1e300;
  for (const T& run : runs) best = std::min(best, field(run));
  return runs.empty() ? 0 : best;
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

// The heading: what was measured, where and when.
void WriteHeading(std::ostream& md, const TConfig& config, const TResults& r) {
  if (config.WebOnly)
    md << "# The web page against kelvo\n\n"
       << "Figures of the last run of `./bench.sh --web --web-only`; every figure is the median (and the fastest) "
          "of "
       << config.Runs << " runs, the web page in the browser and kelvo alternating, under `scripts/headless` (Xvfb "
       << kDesignWidthPixels << "x" << kDesignHeightPixels << ", Mesa's software renderer, PulseAudio null sink).\n\n";
  else
    md << "# kelvo against the floor\n\n"
       << "Figures of the last run of `./bench.sh`; every figure is the median of " << config.Runs
       << " runs, kelvo and the floor program (`bench/floor.cpp`) alternating, under `scripts/headless` "
          "(Xvfb " << kDesignWidthPixels << "x" << kDesignHeightPixels
       << ", Mesa's software renderer, PulseAudio null sink).\n\n";
  md
     << "- Date: " << r.Date << "\n"
     << "- Machine: " << r.Machine << "\n"
     << "- GL: " << r.Renderer << "\n"
     << "- Load average before / after: " << r.LoadBefore << " / " << r.LoadAfter
     << " (other work on the machine slows both programs alike, but widens the spread)\n"
     << "- Command: `" << config.Command << "`\n\n";
}

struct TPhase {
  const char* Name;
  double TStartup::*Field;
};

// One table row a phase: the median of the measured program's runs, of the reference's, and
// their ratio.
template <std::size_t N>
void WritePhaseRows(std::ostream& md, const TPhase (&phases)[N], const std::vector<TStart>& measured,
                    const std::vector<TStart>& reference) {
  for (const TPhase& phase : phases) {
    const double ours = MedianOf(measured, [&](const TStart& s) { return s.Phases.*phase.Field; });
    const double base = MedianOf(reference, [&](const TStart& s) { return s.Phases.*phase.Field; });
    md << "| " << phase.Name << " | " << Fixed(ours) << " | " << Fixed(base) << " | " << Ratio(ours, base) << " |\n";
  }
}

// Start-up to the mapped window, phase by phase and step by step, with the processor time.
void WriteStartup(std::ostream& md, const TResults& r) {
  const double kelvoTotal = MedianOf(r.StartKelvo, [](const TStart& s) { return s.Phases.Total; });
  const double floorTotal = MedianOf(r.StartFloor, [](const TStart& s) { return s.Phases.Total; });
  md << "## Start-up: exec to \"" << kMappedWindowLine << "\"\n\n"
     << "| phase | kelvo ms | floor ms | ratio |\n|---|---:|---:|---:|\n";
  const TPhase phases[] = {{"display (exec, X, GLX context, GL state)", &TStartup::Display},
                           {"font atlas (store mapped, glyphs, 8192x8192 upload)", &TStartup::Font},
                           {"song (temporary file round trip; kelvo also sets up ALSA)", &TStartup::Song},
                           {"pictures (20 reads and uploads)", &TStartup::Pictures},
                           {"renderers (37 registered, window mapped)", &TStartup::Renderers},
                           {"**total**", &TStartup::Total}};
  WritePhaseRows(md, phases, r.StartKelvo, r.StartFloor);
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
}

// The full font atlas against the packed one on a GL with smaller textures.
void WritePackedAtlas(std::ostream& md, const TResults& r) {
  md << "## The packed font atlas\n\n"
     << "Exec to \"" << kMappedWindowLine << "\" of this kelvo with the full 8192 x 8192 atlas, and of the same "
     << "kelvo on a GL that reports textures of at most " << kPackedAtlasLimit << " x " << kPackedAtlasLimit
     << " (libkelvo-gllimit.so preloaded), which packs the glyphs by their sizes; the two alternate run by run. "
        "Peak resident memory is VmHWM when the window maps.\n\n"
     << "| atlas | median ms | fastest ms | ratio (median) | CPU ms | CPU ratio | peak resident MB | memory ratio "
        "|\n|---|---:|---:|---:|---:|---:|---:|---:|\n";
  auto total = [](const TStart& s) { return s.Phases.Total; };
  auto cpu = [](const TStart& s) { return s.Cpu.RunMs; };
  auto peak = [](const TStart& s) { return s.PeakBytes; };
  const char* names[2] = {"8192 x 8192 (GL takes it)", "packed (GL limited to 4096)"};
  for (int i = 0; i < 2; ++i) {
    md << "| " << names[i] << " | " << Fixed(MedianOf(r.Atlas[i], total)) << " | "
       << Fixed(FastestOf(r.Atlas[i], total)) << " | "
       << Ratio(MedianOf(r.Atlas[i], total), MedianOf(r.Atlas[0], total)) << " | " << Fixed(MedianOf(r.Atlas[i], cpu))
       << " | " << Ratio(MedianOf(r.Atlas[i], cpu), MedianOf(r.Atlas[0], cpu)) << " | "
       << Mb(MedianOf(r.Atlas[i], peak)) << " | " << Ratio(MedianOf(r.Atlas[i], peak), MedianOf(r.Atlas[0], peak))
       << " |\n";
  }
  md << "\n";
}

// The compressed store against the uncompressed build, warm and cold.
void WriteStoreComparison(std::ostream& md, const TResults& r) {
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
  auto fastest = [&](const std::vector<TStart>& runs) { return FastestOf(runs, total); };
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

// The time per frame of the harbour scene, with the text off and on screen.
void WriteFrames(std::ostream& md, const TConfig& config, const TResults& r) {
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

const char* const kWineNames[2] = {"kelvo", "tessic.exe under Wine"};

// The target line of a Wine comparison (runs[1], tessic.exe, against runs[0], kelvo): the
// medians' ratio against the limit, then the fastest runs', the paired and the CPU ratio.
template <typename TRun, typename TValue, typename TCpu>
void WriteWineTarget(std::ostream& md, std::string_view target, double limit, const std::vector<TRun> (&runs)[2],
                     TValue value, std::string_view paired, std::string_view cpuName, TCpu cpu) {
  const double ratio = MedianOf(runs[1], value) / MedianOf(runs[0], value);
  md << "\nTarget: tessic.exe's " << target << " at most " << Fixed(limit, 1) << " x kelvo's: " << Fixed(ratio, 2) << " x, " << Verdict(ratio <= limit)
     << ". Fastest against fastest: " << Ratio(FastestOf(runs[1], value), FastestOf(runs[0], value)) << " x; "
     << paired << ": " << Fixed(PairedRatio(runs[1], runs[0], value), 2) << " x; " << cpuName << ": "
     << Ratio(MedianOf(runs[1], cpu), MedianOf(runs[0], cpu)) << " x.\n";
}

// Exec to each one's mapped window: the totals, the target, and phase by phase.
void WriteWineStartup(std::ostream& md, const TWineComparison& w) {
  auto total = [](const TStart& s) { return s.Phases.Total; };
  auto cpu = [](const TStart& s) { return s.Cpu.RunMs; };
  auto peak = [](const TStart& s) { return s.PeakBytes; };
  md << "### Start-up: exec to the mapped window\n\n"
     << "Exec to \"" << kLinuxWindowLines.Mapped << "\" (kelvo) and from the exec of the wrapper to \""
     << kWindowsWindowLines.Mapped << "\" (tessic.exe: Wine's own start counts). CPU ms is the processor time "
        "of the program's process up to that line (for tessic.exe without the wineserver's); peak resident "
        "memory is its VmHWM then.\n\n"
     << "| program | median ms | fastest ms | CPU ms | peak resident MB |\n|---|---:|---:|---:|---:|\n";
  for (int i = 0; i < 2; ++i)
    md << "| " << kWineNames[i] << " | " << Fixed(MedianOf(w.Start[i], total)) << " | "
       << Fixed(FastestOf(w.Start[i], total)) << " | " << Fixed(MedianOf(w.Start[i], cpu)) << " | "
       << Mb(MedianOf(w.Start[i], peak)) << " |\n";
  WriteWineTarget(md, "start-up", 1.5, w.Start, total, "paired (run i against run i)", "CPU", cpu);
  md << "Each run's total (ms): kelvo " << Each(w.Start[0], total) << "; tessic.exe " << Each(w.Start[1], total)
     << ".\n\n"
     << "| phase | tessic.exe ms | kelvo ms | ratio |\n|---|---:|---:|---:|\n";
  const TPhase phases[] = {{"display (exec, the window, the GL context, GL state; Wine's start)", &TStartup::Display},
                           {"font atlas (store mapped, glyphs, upload)", &TStartup::Font},
                           {"song (temporary file round trip, the sound output's set-up)", &TStartup::Song},
                           {"pictures (20 reads and uploads)", &TStartup::Pictures},
                           {"renderers (registered, window mapped)", &TStartup::Renderers},
                           {"**total**", &TStartup::Total}};
  WritePhaseRows(md, phases, w.Start[1], w.Start[0]);
  md << "\n";
}

// The harbour's time per frame from both programs' frame-rate reports, and the target.
void WriteWineFrames(std::ostream& md, const TConfig& config, const TWineComparison& w) {
  auto ms = [](const TReportedFrames& f) { return f.MsPerFrame; };
  auto cpu = [](const TReportedFrames& f) { return f.CpuMsPerFrame; };
  auto steal = [](const TReportedFrames& f) { return f.Steal * 100; };
  md << "### Frames of the harbour scene\n\n"
     << "Time per frame from each program's own frame-rate reports (\"N fps\" once a second): the mean of the "
        "reports over "
     << Fixed(config.FrameSeconds, 0)
     << " s of the harbour per run, as a time per frame, then the median and the fastest of the runs. Neither "
        "program has a probe loaded: Wine opens libGL itself and looks its functions up there, so a preloaded "
        "probe never sees tessic.exe's buffer swaps, and the reports are the one measure both programs give "
        "alike. CPU ms/frame is the processor time of the program's process (its own threads and the software "
        "renderer's; for tessic.exe not the wineserver's) over the same window, per frame.\n\n"
     << "| program | median ms/frame | fastest ms/frame | fps (median) | CPU ms/frame |\n|---|---:|---:|---:|---:|\n";
  for (int i = 0; i < 2; ++i)
    md << "| " << kWineNames[i] << " | " << Fixed(MedianOf(w.Frames[i], ms)) << " | "
       << Fixed(FastestOf(w.Frames[i], ms)) << " | "
       << Fixed(MedianOf(w.Frames[i], [](const TReportedFrames& f) { return f.Fps; })) << " | "
       << Fixed(MedianOf(w.Frames[i], cpu)) << " |\n";
  WriteWineTarget(md, "time per frame", 1.2, w.Frames, ms, "paired", "CPU per frame", cpu);
  md << "Each run (ms/frame): kelvo " << Each(w.Frames[0], ms) << "; tessic.exe " << Each(w.Frames[1], ms)
     << ". Hypervisor steal: kelvo " << Each(w.Frames[0], steal) << " %; tessic.exe " << Each(w.Frames[1], steal)
     << " %.\n\n";
}

// tessic.exe under Wine against kelvo: how the two were run, then start-up and frames.
void WriteUnderWine(std::ostream& md, const TConfig& config, const TResults& r) {
  md << "## tessic.exe under Wine against kelvo\n\n"
     << "The Windows build (`tessic.exe`, the same store) under " << r.WineVersion
     << ", started through `scripts/wine` in one Wine prefix made for the whole benchmark "
        "(`scripts/wine-session`: its server, services and desktop process already running), against this "
        "kelvo; the two alternate run by run, one start-up of each first not counted. The fastest run of each "
        "is given beside the median: other work on the machine slows single runs.\n\n";
  WriteWineStartup(md, r.Wine);
  if (r.Wine.Frames[0].empty()) {
    md << "(The harbour's frames under Wine not measured in this run: --no-frames.)\n\n";
  } else {
    WriteWineFrames(md, config, r.Wine);
  }
}

// The web page in the browser against kelvo: start-up, frames, memory, the page's size.
void WriteInBrowser(std::ostream& md, const TConfig& config, const TWebComparison& w) {
  auto total = [](const TStart& s) { return s.Phases.Total; };
  auto mapped = [](const TBrowserStart& s) { return s.Phases.Total; };
  auto frame = [](const TBrowserStart& s) { return s.FirstFrameMs; };
  auto load = [](const TBrowserStart& s) { return s.LoadMs; };
  md << "## The web page in the browser against kelvo\n\n"
     << "The web build of the same demo and store in " << w.Browser << ", WebGL renderer: " << w.Renderer
     << " (`--web-renderer " << config.WebRenderer
     << "`), started by `scripts/web/bench.py` with a fresh profile for every run, on the same Xvfb screen; "
        "the page and kelvo alternate run by run, one start of each first not counted.\n\n"
     << "### Start-up: the start control to the first frame\n\n"
     << "kelvo: exec to \"" << kLinuxWindowLines.Mapped << "\". The page: from the press of the start control "
        "(the module is fetched and compiled before the control is enabled) to \""
     << kWebWindowLines.Mapped << "\" and to the first animation frame after it, in the page's own clock.\n\n"
     << "| program | median ms | fastest ms |\n|---|---:|---:|\n"
     << "| kelvo, to its mapped window | " << Fixed(MedianOf(w.Start, total)) << " | "
     << Fixed(FastestOf(w.Start, total)) << " |\n"
     << "| the page, to its mapped-window line | " << Fixed(MedianOf(w.BrowserStart, mapped)) << " | "
     << Fixed(FastestOf(w.BrowserStart, mapped)) << " |\n"
     << "| the page, to its first frame | " << Fixed(MedianOf(w.BrowserStart, frame)) << " | "
     << Fixed(FastestOf(w.BrowserStart, frame)) << " |\n"
     << "| (the page's address to its enabled start control) | " << Fixed(MedianOf(w.BrowserStart, load)) << " | "
     << Fixed(FastestOf(w.BrowserStart, load)) << " |\n";
  const double ratio = MedianOf(w.BrowserStart, frame) / MedianOf(w.Start, total);
  std::vector<double> paired;
  for (std::size_t i = 0; i < w.Start.size() && i < w.BrowserStart.size(); ++i)
    if (w.Start[i].Phases.Total > 0) paired.push_back(w.BrowserStart[i].FirstFrameMs / w.Start[i].Phases.Total);
  md << "\nTarget: the page's start to its first frame at most 2.0 x kelvo's start-up: " << Fixed(ratio, 2) << " x, "
     << Verdict(ratio <= 2.0) << ". Fastest against fastest: "
     << Ratio(FastestOf(w.BrowserStart, frame), FastestOf(w.Start, total)) << " x; paired: " << Fixed(Median(paired), 2)
     << " x.\n"
     << "Each run (ms): kelvo " << Each(w.Start, total) << "; the page to its first frame " << Each(w.BrowserStart, frame)
     << ".\n\n"
     << "| phase | the page ms | kelvo ms | ratio |\n|---|---:|---:|---:|\n";
  const TPhase phases[] = {{"display (kelvo: exec, X, GLX; the page: the press to the WebGL context)", &TStartup::Display},
                           {"font atlas (store read, glyphs, upload)", &TStartup::Font},
                           {"song (temporary file round trip, the sound output's set-up)", &TStartup::Song},
                           {"pictures (reads, decoding, uploads)", &TStartup::Pictures},
                           {"renderers (registered, window mapped)", &TStartup::Renderers},
                           {"**total, to the mapped-window line**", &TStartup::Total}};
  for (const TPhase& phase : phases) {
    const double page = MedianOf(w.BrowserStart, [&](const TBrowserStart& s) { return s.Phases.*phase.Field; });
    const double ours = MedianOf(w.Start, [&](const TStart& s) { return s.Phases.*phase.Field; });
    md << "| " << phase.Name << " | " << Fixed(page) << " | " << Fixed(ours) << " | " << Ratio(page, ours) << " |\n";
  }
  md << "\n";
  if (!w.BrowserFrames.empty()) {
    auto ms = [](const TReportedFrames& f) { return f.MsPerFrame; };
    auto pageMs = [](const TBrowserFrames& f) { return f.MsPerFrame; };
    md << "### Frames of the harbour scene\n\n"
       << "Time per frame from each program's own frame-rate reports: the mean of the reports over "
       << Fixed(config.FrameSeconds, 0)
       << " s of the harbour per run, as a time per frame, then the median and the fastest of the runs. CPU "
          "ms/frame: kelvo's process, and all the browser's processes (the page's, the GPU process's, the "
          "browser's), over the same window, per frame.\n\n"
       << "| program | median ms/frame | fastest ms/frame | fps (median) | CPU ms/frame | drawing buffer |\n"
          "|---|---:|---:|---:|---:|---|\n"
       << "| kelvo | " << Fixed(MedianOf(w.Frames, ms)) << " | " << Fixed(FastestOf(w.Frames, ms)) << " | "
       << Fixed(MedianOf(w.Frames, [](const TReportedFrames& f) { return f.Fps; })) << " | "
       << Fixed(MedianOf(w.Frames, [](const TReportedFrames& f) { return f.CpuMsPerFrame; })) << " | "
       << kDesignWidthPixels << "x" << kDesignHeightPixels << " |\n"
       << "| the page | " << Fixed(MedianOf(w.BrowserFrames, pageMs)) << " | "
       << Fixed(FastestOf(w.BrowserFrames, pageMs)) << " | "
       << Fixed(MedianOf(w.BrowserFrames, [](const TBrowserFrames& f) { return f.Fps; })) << " | "
       << Fixed(MedianOf(w.BrowserFrames, [](const TBrowserFrames& f) { return f.CpuMsPerFrame; })) << " | "
       << w.BrowserFrames.back().Canvas << " |\n";
    const double frameRatio = MedianOf(w.BrowserFrames, pageMs) / MedianOf(w.Frames, ms);
    std::vector<double> pairedFrames;
    for (std::size_t i = 0; i < w.Frames.size() && i < w.BrowserFrames.size(); ++i)
      if (w.Frames[i].MsPerFrame > 0) pairedFrames.push_back(w.BrowserFrames[i].MsPerFrame / w.Frames[i].MsPerFrame);
    md << "\nTarget: the page's time per frame at most 1.5 x kelvo's: " << Fixed(frameRatio, 2) << " x, "
       << Verdict(frameRatio <= 1.5) << ". Fastest against fastest: "
       << Ratio(FastestOf(w.BrowserFrames, pageMs), FastestOf(w.Frames, ms)) << " x; paired: "
       << Fixed(Median(pairedFrames), 2) << " x.\n"
       << "Each run (ms/frame): kelvo " << Each(w.Frames, ms) << "; the page " << Each(w.BrowserFrames, pageMs)
       << ".\n\n"
       << "### Memory in the harbour\n\n"
       << "Read in the middle of each frames run's window: the module's memory (its WebAssembly heap, which "
          "grows and never shrinks), the page's JavaScript heap (used, and as large as it is), and the memory "
          "of all the browser's processes from /proc (the sum of their resident sets, and the sum of their "
          "proportional sets, where a page shared by several processes counts once).\n\n"
       << "| what | median MB |\n|---|---:|\n"
       << "| the module's memory | "
       << Mb(MedianOf(w.BrowserFrames, [](const TBrowserFrames& f) { return f.ModuleBytes; }))
       << " |\n| JavaScript heap, used | "
       << Mb(MedianOf(w.BrowserFrames, [](const TBrowserFrames& f) { return f.JsHeapUsed; }))
       << " |\n| JavaScript heap, total | "
       << Mb(MedianOf(w.BrowserFrames, [](const TBrowserFrames& f) { return f.JsHeapTotal; }))
       << " |\n| the browser's processes, resident (sum of RSS, " << w.BrowserFrames.back().Processes
       << " processes) | " << Mb(MedianOf(w.BrowserFrames, [](const TBrowserFrames& f) { return f.Rss; }))
       << " |\n| the browser's processes, proportional (sum of PSS) | "
       << Mb(MedianOf(w.BrowserFrames, [](const TBrowserFrames& f) { return f.Pss; })) << " |\n\n";
  }
  std::string files;
  for (const auto& [name, bytes] : w.PageFiles) files += (files.empty() ? "" : ", ") + name + " " + std::to_string(bytes);
  md << "### The page's download\n\n"
     << "The files of the page's folder, " << Mb(static_cast<double>(w.PageBytes)) << " MB in all: " << files
     << " bytes. Target: at most 64 MB: " << Verdict(static_cast<double>(w.PageBytes) <= 64.0 * 1048576.0)
     << ".\n\n";
}

// The resident memory at the largest sample of a full run, part by part, and the buffers.
void WriteMemory(std::ostream& md, const TResults& r) {
  md << "## Memory: resident at the largest sample of a full run\n\n"
     << "Sampled every " << Fixed(kSampleEveryMs / 1000, 0)
     << " s. Heap blocks of 1 MiB or more are attributed by an allocation probe (`bench/allocprobe.cpp`) to "
        "the code that asked for them, and counted page by page (pagemap; pages that were only read, such "
        "as the untouched parts of the calloc'd atlas, map the zero page and do not count). kelvo: full runs "
        "of "
     << kReportsPerRun << " reports; floor: "
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

  const std::size_t pictures = r.PictureCount;
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
}

// The underruns over the full runs.
void WriteAudio(std::ostream& md, const TResults& r) {
  int underruns = 0;
  for (const TFull& full : r.FullKelvo) underruns += full.Underruns;
  md << "## Audio: underruns over full runs\n\n"
     << "\"[uALSA] WARNING: Buffer underrun\" lines per full run of kelvo ("
     << kReportsPerRun << " reports, the frame loop busy "
        "on one core and the software renderer's threads on the others): "
     << Each(r.FullKelvo, [](const TFull& f) { return static_cast<double>(f.Underruns); }, 0) << ".\n"
     << "Exit statuses: " << Each(r.FullKelvo, [](const TFull& f) { return static_cast<double>(f.ExitCode); }, 0)
     << "; frame-rate reports: " << Each(r.FullKelvo, [](const TFull& f) { return static_cast<double>(f.Reports); }, 0)
     << "; harbour frame rate (mean of the reports from the 8th on): "
     << Each(r.FullKelvo, [](const TFull& f) { return f.HarbourFps; }) << " fps; hypervisor steal: "
     << Each(r.FullKelvo, [](const TFull& f) { return f.Steal * 100; }) << " %.\n\n"
     << "Target: 0 underruns: " << Verdict(underruns == 0) << ".\n";
}

}  // namespace

void WriteReport(const TConfig& config, const TResults& r) {
  std::ostringstream md;
  WriteHeading(md, config, r);
  if (!r.StartKelvo.empty()) {
    WriteStartup(md, r);
    if (!config.Baseline.empty()) WriteStoreComparison(md, r);
    if (!r.Atlas[0].empty()) WritePackedAtlas(md, r);
    if (r.OffKelvo.empty()) {
      md << "(Frames of the harbour scene not measured in this run: --no-frames.)\n\n";
    } else {
      WriteFrames(md, config, r);
    }
  }
  if (!r.Wine.Start[0].empty()) WriteUnderWine(md, config, r);
  if (!r.Web.Start.empty()) WriteInBrowser(md, config, r.Web);
  if (!r.FullKelvo.empty()) {
    WriteMemory(md, r);
    WriteAudio(md, r);
  }

  std::ofstream out(config.Out);
  out << md.str();
  if (!out) throw std::runtime_error("cannot write " + config.Out);
  std::cout << md.str();
}
