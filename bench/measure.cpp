// The benchmark's arithmetic (see measure.hpp).
#include "bench/measure.hpp"
#include "base/loglines.hpp"
#include "platform/loglines.hpp"
#include "platform/linux/loglines.hpp"
#include "platform/web/loglines.hpp"
#include "platform/windows/loglines.hpp"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <numeric>

namespace {

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
    if (end > at) words.push_back(line.substr(at, end - at));
    at = end;
  }
  return words;
}

template <class T>
bool Number(std::string_view word, T& value, int base = 10) {
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value, base);
  return error == std::errc() && end == word.data() + word.size();
}

}  // namespace

const TWindowLines kLinuxWindowLines{linux_lines::kGLSetupDoneLine, linux_lines::kMappedWindowLine};
const TWindowLines kWindowsWindowLines{windows_lines::kGLSetupDoneLine, windows_lines::kMappedWindowLine};
const TWindowLines kWebWindowLines{web_lines::kGLSetupDoneLine, web_lines::kMappedWindowLine};

std::optional<double> TBrowserOutput::Number(const std::string& name) const {
  auto figure = Figures.find(name);
  if (figure == Figures.end() || figure->second.empty()) return std::nullopt;
  char* end = nullptr;
  const double value = std::strtod(figure->second.c_str(), &end);
  if (end != figure->second.c_str() + figure->second.size()) return std::nullopt;
  return value;
}

TBrowserOutput ParseBrowserOutput(const std::vector<TLine>& output) {
  TBrowserOutput run;
  for (const TLine& line : output) {
    const std::string_view text = line.Text;
    if (text.starts_with('=')) {
      const std::size_t tab = text.find('\t');
      if (tab != std::string_view::npos)
        run.Figures[std::string(text.substr(1, tab - 1))] = std::string(text.substr(tab + 1));
      continue;
    }
    if (!text.starts_with('@')) continue;
    const std::size_t first = text.find('\t');
    const std::size_t second = first == std::string_view::npos ? first : text.find('\t', first + 1);
    if (second != first + 2) continue;
    const std::string ms(text.substr(1, first - 1));
    char* end = nullptr;
    const double at = std::strtod(ms.c_str(), &end);
    if (ms.empty() || end != ms.c_str() + ms.size()) continue;
    const char kind = text[first + 1];
    if (kind != 'r' && kind != 'n') continue;
    run.Console.push_back({at, std::string(text.substr(second + 1)), kind == 'r'});
  }
  return run;
}

std::vector<TLine> SplitOutput(std::string& rest, std::string_view chunk, double ms) {
  std::vector<TLine> lines;
  for (char c : chunk) {
    if (c == '\n' || c == '\r') {
      lines.push_back({ms, rest, c == '\r'});
      rest.clear();
    } else {
      rest.push_back(c);
    }
  }
  return lines;
}

std::optional<double> TimeOf(const std::vector<TLine>& lines, std::string_view text) {
  for (const TLine& line : lines)
    if (Contains(line.Text, text)) return line.Ms;
  return std::nullopt;
}

std::optional<double> Between(const std::vector<TLine>& lines, std::string_view from, std::string_view to) {
  auto start = std::find_if(lines.begin(), lines.end(), [&](const TLine& line) { return Contains(line.Text, from); });
  if (start == lines.end()) return std::nullopt;
  auto end = std::find_if(start + 1, lines.end(), [&](const TLine& line) { return Contains(line.Text, to); });
  if (end == lines.end()) return std::nullopt;
  return end->Ms - start->Ms;
}

std::optional<TStartup> StartupPhases(const std::vector<TLine>& lines, std::string& error,
                                      const TWindowLines& window) {
  const std::string_view marks[] = {window.GLSetupDone, "found resource \"SONG\"",
                                    "found resource \"TEX_", kRegisteredRendererLine,
                                    window.Mapped};
  double at[5];
  double previous = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    std::optional<double> time = TimeOf(lines, marks[i]);
    if (!time) {
      error = "no line with " + std::string(marks[i]);
      return std::nullopt;
    }
    if (*time < previous) {
      error = "the line with " + std::string(marks[i]) + " came too early";
      return std::nullopt;
    }
    at[i] = previous = *time;
  }
  TStartup startup;
  startup.Display = at[0];
  startup.Font = at[1] - at[0];
  startup.Song = at[2] - at[1];
  startup.Pictures = at[3] - at[2];
  startup.Renderers = at[4] - at[3];
  startup.Total = at[4];
  return startup;
}

std::vector<int> FrameReports(const std::vector<TLine>& lines) {
  std::vector<int> reports;
  for (const TLine& line : lines) {
    if (!line.Carriage) continue;
    std::vector<std::string_view> words = Words(line.Text);
    int frames = 0;
    if (words.size() == 2 && words[1] == "fps" && Number(words[0], frames)) reports.push_back(frames);
  }
  return reports;
}

double MeanReport(const std::vector<TLine>& lines, double fromMs) {
  std::vector<TLine> late;
  for (const TLine& line : lines)
    if (line.Ms >= fromMs) late.push_back(line);
  const std::vector<int> reports = FrameReports(late);
  if (reports.empty()) return 0;
  return std::accumulate(reports.begin(), reports.end(), 0.0) / static_cast<double>(reports.size());
}

int CountLines(const std::vector<TLine>& lines, std::string_view text) {
  return static_cast<int>(std::count_if(lines.begin(), lines.end(),
                                        [&](const TLine& line) { return Contains(line.Text, text); }));
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const double rank = std::ceil(p / 100.0 * static_cast<double>(values.size()));
  const std::size_t index = rank < 1 ? 0 : static_cast<std::size_t>(rank) - 1;
  return values[std::min(index, values.size() - 1)];
}

TFrameStats FrameStats(const std::vector<std::uint64_t>& swapsNs, std::uint64_t fromNs, std::uint64_t toNs) {
  std::vector<double> intervals;
  for (std::size_t i = 1; i < swapsNs.size(); ++i) {
    if (swapsNs[i - 1] < fromNs || swapsNs[i] > toNs || swapsNs[i] < swapsNs[i - 1]) continue;
    intervals.push_back(static_cast<double>(swapsNs[i] - swapsNs[i - 1]) / 1e6);
  }
  TFrameStats stats;
  stats.Frames = static_cast<int>(intervals.size());
  if (intervals.empty()) return stats;
  stats.MeanMs = std::accumulate(intervals.begin(), intervals.end(), 0.0) / static_cast<double>(intervals.size());
  stats.P90Ms = Percentile(intervals, 90);
  stats.MedianMs = Median(std::move(intervals));
  return stats;
}

TAllocationLog ReplayAllocations(std::string_view log) {
  TAllocationLog replay;
  std::map<std::uint64_t, TAllocation> live;
  std::size_t at = 0;
  while (at < log.size()) {
    std::size_t end = log.find('\n', at);
    if (end == std::string_view::npos) break;  // a line still being written
    std::vector<std::string_view> words = Words(log.substr(at, end - at));
    at = end + 1;
    TAllocation block;
    if (words.size() == 4 && words[0] == "A" && Number(words[1], block.Address, 16) &&
        Number(words[2], block.Size) && Number(words[3], block.Caller, 16)) {
      live[block.Address] = block;
    } else if (words.size() == 2 && words[0] == "F" && Number(words[1], block.Address, 16)) {
      auto freed = live.find(block.Address);
      if (freed != live.end()) {
        replay.Freed.push_back(freed->second);
        live.erase(freed);
      }
    }
  }
  for (const auto& [address, block] : live) replay.Live.push_back(block);
  return replay;
}

std::vector<TMapping> ParseSmaps(std::string_view smaps) {
  std::vector<TMapping> mappings;
  std::size_t at = 0;
  while (at < smaps.size()) {
    std::size_t end = smaps.find('\n', at);
    if (end == std::string_view::npos) end = smaps.size();
    std::string_view line = smaps.substr(at, end - at);
    at = end + 1;
    std::vector<std::string_view> words = Words(line);
    if (words.empty()) continue;
    const std::size_t dash = words[0].find('-');
    TMapping mapping;
    if (dash != std::string_view::npos && words.size() >= 5 && Number(words[0].substr(0, dash), mapping.Start, 16) &&
        Number(words[0].substr(dash + 1), mapping.End, 16)) {
      mapping.Perms = std::string(words[1]);
      // The path is everything after the fifth field (it may contain spaces).
      if (words.size() >= 6) {
        const std::size_t pathAt = static_cast<std::size_t>(words[5].data() - line.data());
        mapping.Path = std::string(line.substr(pathAt));
      }
      mappings.push_back(mapping);
    } else if (words[0] == "Rss:" && words.size() >= 2 && !mappings.empty()) {
      Number(words[1], mappings.back().RssKb);
    }
  }
  return mappings;
}

std::string PathAt(const std::vector<TMapping>& mappings, std::uint64_t address) {
  for (const TMapping& mapping : mappings)
    if (address >= mapping.Start && address < mapping.End) return mapping.Path;
  return {};
}

bool IsDriverPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  const std::string_view file = slash == std::string_view::npos ? path : path.substr(slash + 1);
  return Contains(path, "/dri/") || file.starts_with("libgallium") || file.starts_with("libLLVM") ||
         (file.starts_with("libGL") && !file.starts_with("libGLU")) || file.starts_with("libglapi") || file.starts_with("libOpenGL") ||
         file.starts_with("swrast");
}

bool IsAtlasSize(std::uint64_t size) {
  if (size % 4 != 0) return false;
  const std::uint64_t pixels = size / 4;
  for (std::uint64_t side = 1024; side <= 65536; side *= 2)
    if (side * side == pixels) return true;
  return false;
}
