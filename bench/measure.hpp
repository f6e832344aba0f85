// The benchmark's arithmetic, apart from processes and /proc so it can be tested: start-up
// phases from timestamped output lines, frame times from buffer-swap times and frame-rate
// reports, medians, the replay of the allocation log and the sorting of resident memory into
// the design's buffers (pictures, atlas, song, store mapping) and the GL driver's.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One piece of a program's output, ended by a line feed or a carriage return, with the
// time it arrived in milliseconds after the program was started.
struct TLine {
  double Ms = 0;
  std::string Text;
  bool Carriage = false;  // ended by a carriage return (a frame-rate report)
};

// Splits output into lines at line feeds and carriage returns. Text after the last end
// stays in `rest` for the next chunk.
std::vector<TLine> SplitOutput(std::string& rest, std::string_view chunk, double ms);

// The lines of a system's window that mark its start-up: the GL set-up done and the window
// mapped. kLinuxWindowLines are the Linux program's ([uGLX] ...), kWindowsWindowLines
// tessic.exe's ([uWGL] ...), kWebWindowLines the web page's ([uWebGL] ...), all from the
// systems' loglines.txt.
struct TWindowLines {
  std::string_view GLSetupDone;
  std::string_view Mapped;
};
extern const TWindowLines kLinuxWindowLines;
extern const TWindowLines kWindowsWindowLines;
extern const TWindowLines kWebWindowLines;

// A run of the web page as the browser driver prints it (scripts/web/bench.py): every piece
// of the page's console as "@MS<TAB>END<TAB>TEXT", MS the milliseconds from the press of the
// start control in the page's own clock, END "r" for a piece the program ended with a
// carriage return (a frame-rate report) and "n" otherwise; every figure the driver read as
// "=NAME<TAB>VALUE". Other output lines (the driver's own words) are skipped.
struct TBrowserOutput {
  std::vector<TLine> Console;  // timed from the press of the start control
  std::map<std::string, std::string> Figures;
  // A figure as a number; nothing when it is missing or not a number.
  std::optional<double> Number(const std::string& name) const;
};
TBrowserOutput ParseBrowserOutput(const std::vector<TLine>& output);

// Start-up phases in milliseconds, measured between these marks:
//   exec -> the window's "GL(X) setup done" ("GL(WGL) ..." on Windows)    display
//        -> "found resource "SONG""                                font atlas (store opened, atlas built, uploaded)
//        -> first "found resource "TEX_"                           song (temporary file round trip, player set-up)
//        -> first "registered renderer"                            pictures
//        -> the window's "Mapped Window"                           renderers
struct TStartup {
  double Display = 0, Font = 0, Song = 0, Pictures = 0, Renderers = 0, Total = 0;
};
// Nothing when a mark is missing or the marks are out of order; error says which.
std::optional<TStartup> StartupPhases(const std::vector<TLine>& lines, std::string& error,
                                      const TWindowLines& window = kLinuxWindowLines);

// The time of the first line containing text, if any.
std::optional<double> TimeOf(const std::vector<TLine>& lines, std::string_view text);

// Milliseconds from the first line containing `from` to the first line after it that
// contains `to`; nothing when either is missing.
std::optional<double> Between(const std::vector<TLine>& lines, std::string_view from, std::string_view to);

// The counts of the frame-rate reports ("  35 fps" ended by a carriage return), in order.
std::vector<int> FrameReports(const std::vector<TLine>& lines);

// The mean of the frame-rate reports that arrived at fromMs or later (frames a second); 0
// when there are none.
double MeanReport(const std::vector<TLine>& lines, double fromMs);

// How many lines contain text.
int CountLines(const std::vector<TLine>& lines, std::string_view text);

// Frame times from buffer-swap times (nanoseconds of one monotonic clock): the intervals
// between consecutive swaps that both lie in [from, to].
struct TFrameStats {
  int Frames = 0;          // intervals counted
  double MedianMs = 0;     // median interval
  double MeanMs = 0;       // mean interval
  double P90Ms = 0;        // 90th percentile interval
};
TFrameStats FrameStats(const std::vector<std::uint64_t>& swapsNs, std::uint64_t fromNs, std::uint64_t toNs);

// Median of the values (the mean of the middle two for an even count); 0 for none.
double Median(std::vector<double> values);

// Percentile p (0..100) of the values, nearest rank; 0 for none.
double Percentile(std::vector<double> values, double p);

// A heap block of 1 MiB or more, as logged by the allocation probe.
struct TAllocation {
  std::uint64_t Address = 0;
  std::uint64_t Size = 0;
  std::uint64_t Caller = 0;
};

// The log replayed: the blocks still allocated at its end and those freed on the way
// ("A addr size caller" / "F addr" lines, hexadecimal addresses); malformed lines and an
// unfinished last line are skipped.
struct TAllocationLog {
  std::vector<TAllocation> Live;   // in address order
  std::vector<TAllocation> Freed;  // in the order they were freed
};
TAllocationLog ReplayAllocations(std::string_view log);

// One mapping of /proc/<pid>/smaps with its resident size.
struct TMapping {
  std::uint64_t Start = 0, End = 0;
  std::string Perms;
  std::string Path;
  std::uint64_t RssKb = 0;
};
std::vector<TMapping> ParseSmaps(std::string_view smaps);

// The file mapped at an address ("" for anonymous memory or an unknown address).
std::string PathAt(const std::vector<TMapping>& mappings, std::uint64_t address);

// True for files of the GL stack: Mesa's drivers, LLVM (llvmpipe's compiler), libGL and
// its dispatch libraries (not GLU, which the demo itself calls).
bool IsDriverPath(std::string_view path);

// What the design says the buffers of the program are.
struct TDesignBuffers {
  std::vector<std::uint64_t> PictureSizes;  // pixel bytes of each picture
  std::uint64_t SongSize = 0;               // sample bytes of the song
  std::string Program;                      // the process's own executable
  std::string Store;                        // the file whose mapping is the store
  std::uint64_t StoreFileSize = 0;
};

// Resident memory sorted by owner, in bytes.
struct TMemoryBreakdown {
  double Pictures = 0, Atlas = 0, Song = 0, Store = 0, Driver = 0, Rest = 0, Total = 0;
  int PictureBuffers = 0, AtlasBuffers = 0, SongBuffers = 0;
  // Large blocks of the program's own code that are none of the design's buffers, and
  // picture or song buffers beyond one per picture and one song ("size @ caller file").
  std::vector<std::string> Unexpected;
  double UnexpectedBytes = 0;
  // Large blocks of the program's own code that were freed before the sample: buffers that
  // lived only for a while (a copy made and dropped during start-up).
  std::vector<std::string> Transient;
};

// Sorts the total resident memory: blocks the program allocated itself by size (a picture's,
// the song's, an atlas of side x side x 4 bytes with side a power of two), blocks the GL
// stack allocated, the store file's mapping, the GL stack's code and shared-memory images;
// the rest is everything else (libraries, small heap blocks, stacks). residentOf gives the
// resident bytes of an allocation.
template <class Resident>
TMemoryBreakdown SortMemory(const TAllocationLog& blocks, const std::vector<TMapping>& mappings,
                            const TDesignBuffers& design, double totalBytes, Resident residentOf);

bool IsAtlasSize(std::uint64_t size);

// --- implementation of the template ---

template <class Resident>
TMemoryBreakdown SortMemory(const TAllocationLog& blocks, const std::vector<TMapping>& mappings,
                            const TDesignBuffers& design, double totalBytes, Resident residentOf) {
  TMemoryBreakdown memory;
  for (const TAllocation& block : blocks.Freed) {
    const std::string owner = PathAt(mappings, block.Caller);
    if (owner == design.Program) memory.Transient.push_back(std::to_string(block.Size) + " bytes @ " + owner);
  }
  memory.Total = totalBytes;
  std::map<std::uint64_t, int> picturesLeft;
  for (std::uint64_t size : design.PictureSizes) ++picturesLeft[size];
  for (const TAllocation& block : blocks.Live) {
    const std::string owner = PathAt(mappings, block.Caller);
    const double resident = static_cast<double>(residentOf(block));
    if (owner == design.Program) {
      auto picture = picturesLeft.find(block.Size);
      if (picture != picturesLeft.end() && picture->second > 0) {
        --picture->second;
        ++memory.PictureBuffers;
        memory.Pictures += resident;
      } else if (block.Size == design.SongSize && memory.SongBuffers == 0) {
        ++memory.SongBuffers;
        memory.Song += resident;
      } else if (IsAtlasSize(block.Size) && memory.AtlasBuffers == 0) {
        ++memory.AtlasBuffers;
        memory.Atlas += resident;
      } else {
        memory.Unexpected.push_back(std::to_string(block.Size) + " bytes @ " + owner);
        memory.UnexpectedBytes += resident;
      }
    } else if (IsDriverPath(owner)) {
      memory.Driver += resident;
    }
  }
  for (const TMapping& mapping : mappings) {
    const double rss = static_cast<double>(mapping.RssKb) * 1024.0;
    if (mapping.Path == design.Store && mapping.End - mapping.Start >= design.StoreFileSize) {
      memory.Store += rss;
    } else if (IsDriverPath(mapping.Path) || mapping.Path.starts_with("/SYSV")) {
      memory.Driver += rss;
    }
  }
  memory.Rest = memory.Total - memory.Pictures - memory.Atlas - memory.Song - memory.Store - memory.Driver -
                memory.UnexpectedBytes;
  return memory;
}

// The glyph-wrapping probe's shift: moves a quad spanning [left, right] so that its left
// edge lands at its position modulo the room the screen leaves it, inside [0, screen].
inline float WrapShift(float left, float right, float screen) {
  const float room = screen - (right - left);
  if (room <= 0) return -left;
  float wrapped = std::fmod(left, room);
  if (wrapped < 0) wrapped += room;
  return wrapped - left;
}
