// libkelvo-film: a library preloaded into an unchanged kelvo to film it. It gives the
// demo's main thread a virtual clock that behaves like a 60 Hz display with vertical sync
// (see vclock.hpp) and writes every frame the demo swaps, read back whole, to a pipe, as
// often as that frame stays on screen in the film (rows top first, 4 bytes a pixel, B G R
// and an unused byte). Other threads (the audio worker) see the real clocks.
//
// Interposed: clock_gettime, gettimeofday, time, XMapWindow (returns once the window is
// mapped at the screen's full size and the GL driver knows it, so the first frame is full
// size), glXSwapBuffers, and _exit, _Exit and exit: however the demo's main thread ends the
// process (its run's end, Escape, a failure), the last frame first fills the film up to that
// instant and the info file is written.
//
// Environment, set by scripts/film:
//   KELVO_FILM_VIDEO     the pipe the frames go to (required; without it nothing is filmed)
//   KELVO_FILM_INFO      a file to create at the end: the film's frame count, the virtual
//                        instants of mapping and of the end, where the song's first sample
//                        lies, and the clock reads counted
//   KELVO_FILM_FRAMES    the most frames to film; the demo is ended there (default: no limit)
//   KELVO_FILM_EXPECTED  the frame count the progress line counts towards
//   KELVO_FILM_STARTED_US  when the film was started (microseconds since the epoch), for the
//                        progress line's elapsed time
//
#include <X11/Xlib.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <GL/gl.h>
#include <GL/glx.h>
#include <link.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/facts.hpp"
#include "film/vclock.hpp"

namespace {

constexpr int kWidth = kDesignWidthPixels;
constexpr int kHeight = kDesignHeightPixels;
constexpr std::size_t kRowBytes = static_cast<std::size_t>(kWidth) * 4;
constexpr std::size_t kFrameBytes = kRowBytes * kHeight;
// The status of a film that cannot be made: the demo's failed internal check.
constexpr int kFailStatus = kExitAssertion;

using TClockGettime = int (*)(clockid_t, timespec*);
using TGettimeofday = int (*)(timeval*, void*);
using TTime = time_t (*)(time_t*);
using TXMapWindow = int (*)(Display*, Window);
using TSwapBuffers = void (*)(Display*, GLXDrawable);
using TExit = void (*)(int);

// The next definition of a symbol after this library's own.
template <typename T>
T Next(const char* name) {
  void* symbol = dlsym(RTLD_NEXT, name);
  if (symbol == nullptr) {
    std::fprintf(stderr, "film: %s not found\n", name);
    syscall(SYS_exit_group, kFailStatus);
  }
  return reinterpret_cast<T>(symbol);
}

TClockGettime RealClockGettime() {
  static std::atomic<TClockGettime> real{nullptr};
  TClockGettime f = real.load(std::memory_order_acquire);
  if (f == nullptr) {
    f = Next<TClockGettime>("clock_gettime");
    real.store(f, std::memory_order_release);
  }
  return f;
}

std::int64_t RealNanos(clockid_t id) {
  timespec now{};
  RealClockGettime()(id, &now);
  return static_cast<std::int64_t>(now.tv_sec) * vclock::kNanosPerSecond + now.tv_nsec;
}

void Fail(const std::string& message) {
  std::string line = "\nfilm: " + message + "\n";
  ssize_t ignored = write(STDERR_FILENO, line.data(), line.size());
  (void)ignored;
  Next<TExit>("_exit")(kFailStatus);
}

// ---------------------------------------------------------------------------------------
// Whose read it is. The demo's own code is the executable and libstdc++ (std::chrono);
// the GL driver and the X and sound libraries read clocks an unpredictable number of times.
struct TRange {
  std::uintptr_t Begin = 0;
  std::uintptr_t End = 0;
};
std::vector<TRange> OwnCode;

int CollectOwnCode(dl_phdr_info* info, std::size_t, void* data) {
  auto* count = static_cast<int*>(data);
  bool executable = (*count)++ == 0;  // the first object listed is the program itself
  const char* name = info->dlpi_name != nullptr ? info->dlpi_name : "";
  bool libstdcxx = std::strstr(name, "/libstdc++.so") != nullptr;
  if (!executable && !libstdcxx) return 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_LOAD) continue;
    std::uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
    OwnCode.push_back({begin, begin + segment.p_memsz});
  }
  return 0;
}

bool IsOwnCode(const void* address) {
  auto at = reinterpret_cast<std::uintptr_t>(address);
  return std::any_of(OwnCode.begin(), OwnCode.end(),
                     [at](const TRange& range) { return at >= range.Begin && at < range.End; });
}

// Only the main thread (the one whose id is the process id) runs on virtual time.
bool IsMainThread() {
  static thread_local int main = -1;
  if (main < 0) main = syscall(SYS_gettid) == getpid() ? 1 : 0;
  return main == 1;
}

// ---------------------------------------------------------------------------------------
// The film's state; touched on the main thread only.
struct TFilm {
  bool Active = false;
  vclock::TVirtualClock Clock;
  std::int64_t OwnReads = 0;
  std::int64_t OtherReads = 0;
  bool Mapped = false;
  std::int64_t Playback = 0;  // V when the window was mapped: the song starts there
  int VideoFd = -1;
  std::string InfoPath;
  std::int64_t Limit = -1;
  std::int64_t Expected = 0;
  std::int64_t Written = 0;
  bool Holding = false;  // a frame has been read back and waits to be written
  std::vector<unsigned char> Held;
  std::vector<iovec> Rows;  // Held's rows, top row first
  bool Finished = false;
  std::int64_t StartedNs = 0;    // real time, CLOCK_REALTIME
  std::int64_t FirstFrameNs = 0; // real time, CLOCK_MONOTONIC
  std::int64_t LastProgressNs = 0;
};
TFilm Film;

std::int64_t EnvNumber(const char* name, std::int64_t fallback) {
  const char* text = std::getenv(name);
  if (text == nullptr || *text == '\0') return fallback;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < 0) Fail(std::string("bad ") + name + "=" + text);
  return value;
}

void StartFilm() {
  const char* video = std::getenv("KELVO_FILM_VIDEO");
  if (video == nullptr || *video == '\0') return;
  int count = 0;
  dl_iterate_phdr(CollectOwnCode, &count);
  Film.InfoPath = std::getenv("KELVO_FILM_INFO") != nullptr ? std::getenv("KELVO_FILM_INFO") : "";
  Film.Limit = EnvNumber("KELVO_FILM_FRAMES", -1);
  Film.Expected = EnvNumber("KELVO_FILM_EXPECTED", 0);
  Film.StartedNs = EnvNumber("KELVO_FILM_STARTED_US", RealNanos(CLOCK_REALTIME) / 1000) * 1000;
  // Opening the pipe waits for the encoder to open its end.
  Film.VideoFd = open(video, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  if (Film.VideoFd < 0) Fail(std::string("cannot open ") + video + ": " + std::strerror(errno));
  // A larger pipe lets the encoder take whole frames at a time.
  fcntl(Film.VideoFd, F_SETPIPE_SZ, 1 << 20);
  Film.Held.resize(kFrameBytes);
  Film.Rows.resize(kHeight);
  // GL returns the bottom row first; the film wants the top row first.
  for (int row = 0; row < kHeight; ++row)
    Film.Rows[static_cast<std::size_t>(row)] = {Film.Held.data() + (kHeight - 1 - row) * kRowBytes, kRowBytes};
  Film.Active = true;
}

// Started by a static object defined after Film, so Film is initialised first.
struct TStarter {
  TStarter() { StartFilm(); }
} Starter;

// The virtual time a main-thread read sees; the demo's own reads cost time.
std::int64_t VirtualRead(const void* caller) {
  if (IsOwnCode(caller)) {
    ++Film.OwnReads;
    return Film.Clock.Read();
  }
  ++Film.OtherReads;
  return Film.Clock.Now();
}

bool Virtual() { return Film.Active && !Film.Finished && IsMainThread(); }

// ---------------------------------------------------------------------------------------
// Writing the film.
std::string Clock(std::int64_t nanos) {
  std::int64_t seconds = std::max<std::int64_t>(0, nanos / vclock::kNanosPerSecond);
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64, seconds / 60, seconds % 60);
  return text;
}

void Progress(bool last) {
  std::int64_t now = RealNanos(CLOCK_MONOTONIC);
  if (!last && now - Film.LastProgressNs < 250 * vclock::kNanosPerMilli) return;
  Film.LastProgressNs = now;
  std::int64_t all = std::max(Film.Expected, Film.Written);
  std::int64_t elapsed = RealNanos(CLOCK_REALTIME) - Film.StartedNs;
  std::string left = "?";
  if (Film.Written > 0) {
    double perFrame = static_cast<double>(now - Film.FirstFrameNs) / static_cast<double>(Film.Written);
    left = Clock(static_cast<std::int64_t>(perFrame * static_cast<double>(all - Film.Written)));
  }
  char line[160];
  int length = std::snprintf(line, sizeof line, "\rfilm: frame %" PRId64 " of %" PRId64 ", %s elapsed, %s left   %s",
                             Film.Written, all, Clock(elapsed).c_str(), left.c_str(), last ? "\n" : "");
  ssize_t ignored = write(STDERR_FILENO, line, static_cast<std::size_t>(std::min<int>(length, sizeof line - 1)));
  (void)ignored;
}

void WriteHeldFrame() {
  std::size_t next = 0;
  std::size_t offset = 0;  // bytes of Rows[next] already written
  while (next < Film.Rows.size()) {
    iovec batch[IOV_MAX];
    int used = 0;
    for (std::size_t i = next; i < Film.Rows.size() && used < IOV_MAX; ++i, ++used) {
      batch[used] = Film.Rows[i];
      if (i == next) {
        batch[used].iov_base = static_cast<char*>(batch[used].iov_base) + offset;
        batch[used].iov_len -= offset;
      }
    }
    ssize_t done = writev(Film.VideoFd, batch, used);
    if (done < 0) {
      if (errno == EINTR) continue;
      Fail(std::string("cannot write a frame: ") + std::strerror(errno));
    }
    auto left = static_cast<std::size_t>(done);
    while (left > 0) {
      std::size_t rest = Film.Rows[next].iov_len - offset;
      if (left < rest) {
        offset += left;
        left = 0;
      } else {
        left -= rest;
        offset = 0;
        ++next;
      }
    }
  }
}

// The frame on screen stays there until the film reaches frame `end`.
void FillTo(std::int64_t end) {
  if (!Film.Holding) return;
  std::int64_t copies = vclock::FramesToFill(Film.Written, end, Film.Limit);
  for (std::int64_t i = 0; i < copies; ++i) {
    if (Film.Written == 0) Film.FirstFrameNs = RealNanos(CLOCK_MONOTONIC);
    WriteHeldFrame();
    ++Film.Written;
    Progress(false);
  }
}

void WriteInfo() {
  if (Film.InfoPath.empty()) return;
  int fd = open(Film.InfoPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (fd < 0) Fail("cannot create " + Film.InfoPath + ": " + std::strerror(errno));
  std::int64_t end = Film.Clock.Now();
  char text[512];
  int length = std::snprintf(
      text, sizeof text,
      "frames %" PRId64 "\nmapped %d\nplayback_ns %" PRId64 "\nend_ns %" PRId64
      "\naudio_lead_samples %" PRId64 "\naudio_samples %" PRId64 "\nown_reads %" PRId64 "\nother_reads %" PRId64 "\n",
      Film.Written, Film.Mapped ? 1 : 0, Film.Playback, end, vclock::AudioLeadSamples(Film.Playback),
      Film.Written * vclock::kSamplesPerFrame, Film.OwnReads, Film.OtherReads);
  bool ok = write(fd, text, static_cast<std::size_t>(length)) == length;
  if (close(fd) != 0 || !ok) Fail("cannot write " + Film.InfoPath);
}

// The run is over at the current virtual time (or the film has all its frames).
void Finish() {
  if (Film.Finished) return;
  FillTo(vclock::FramesBefore(Film.Clock.Now()));
  Film.Finished = true;
  close(Film.VideoFd);
  Film.VideoFd = -1;
  WriteInfo();
  Progress(true);
}

void CheckWindowSize() {
  GLint viewport[4] = {0, 0, 0, 0};
  glGetIntegerv(GL_VIEWPORT, viewport);
  if (viewport[2] != kWidth || viewport[3] != kHeight)
    Fail("the demo draws " + std::to_string(viewport[2]) + "x" + std::to_string(viewport[3]) +
         ", a film needs " + std::to_string(kWidth) + "x" + std::to_string(kHeight) + " (run it under scripts/headless)");
}

void ReadBackBuffer() {
  GLint readBuffer = GL_BACK;
  GLint alignment = 4;
  glGetIntegerv(GL_READ_BUFFER, &readBuffer);
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  glReadBuffer(GL_BACK);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  glReadPixels(0, 0, kWidth, kHeight, GL_BGRA, GL_UNSIGNED_BYTE, Film.Held.data());
  glPixelStorei(GL_PACK_ALIGNMENT, alignment);
  glReadBuffer(static_cast<GLenum>(readBuffer));
  Film.Holding = true;
}

// Ends the process through `end` (the next _exit, _Exit or exit); a film on the main thread
// is finished first, so its frames and info file are whole however the run ended.
[[noreturn]] void FinishThenEnd(TExit end, int status) {
  if (Virtual()) Finish();
  end(status);
  __builtin_unreachable();
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The interposed functions.
extern "C" {

int clock_gettime(clockid_t id, timespec* out) noexcept {
  if (!Virtual()) return RealClockGettime()(id, out);
  std::int64_t epoch = 0;
  switch (id) {
    case CLOCK_REALTIME:
    case CLOCK_REALTIME_COARSE:
    case CLOCK_TAI:
      epoch = vclock::kRealtimeEpochSeconds;
      break;
    case CLOCK_MONOTONIC:
    case CLOCK_MONOTONIC_RAW:
    case CLOCK_MONOTONIC_COARSE:
    case CLOCK_BOOTTIME:
      epoch = vclock::kMonotonicEpochSeconds;
      break;
    default:  // processor-time clocks and the like stay real
      return RealClockGettime()(id, out);
  }
  vclock::TReading reading = vclock::ReadingAt(epoch, VirtualRead(__builtin_return_address(0)));
  out->tv_sec = static_cast<time_t>(reading.Seconds);
  out->tv_nsec = static_cast<long>(reading.Nanos);
  return 0;
}

int gettimeofday(timeval* out, void* zone) noexcept {
  static TGettimeofday real = Next<TGettimeofday>("gettimeofday");
  if (!Virtual()) return real(out, zone);
  if (zone != nullptr) real(nullptr, zone);
  vclock::TReading reading =
      vclock::ReadingAt(vclock::kRealtimeEpochSeconds, VirtualRead(__builtin_return_address(0)));
  out->tv_sec = static_cast<time_t>(reading.Seconds);
  out->tv_usec = static_cast<suseconds_t>(reading.Nanos / 1000);
  return 0;
}

time_t time(time_t* out) noexcept {
  static TTime real = Next<TTime>("time");
  if (!Virtual()) return real(out);
  vclock::TReading reading =
      vclock::ReadingAt(vclock::kRealtimeEpochSeconds, VirtualRead(__builtin_return_address(0)));
  auto seconds = static_cast<time_t>(reading.Seconds);
  if (out != nullptr) *out = seconds;
  return seconds;
}

int XMapWindow(Display* display, Window window) {
  static TXMapWindow real = Next<TXMapWindow>("XMapWindow");
  if (!Virtual()) return real(display, window);
  if (!Film.Mapped) {
    Film.Mapped = true;
    Film.Playback = Film.Clock.Now();
  }
  int result = real(display, window);
  // Wait (in real time; V stands still) until the window manager has shown the window at
  // the screen's size, so no frame is drawn into a smaller window.
  XSync(display, False);
  std::int64_t deadline = RealNanos(CLOCK_MONOTONIC) + 20 * vclock::kNanosPerSecond;
  for (;;) {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) != 0 && attributes.map_state == IsViewable &&
        attributes.width == WidthOfScreen(attributes.screen) && attributes.height == HeightOfScreen(attributes.screen))
      break;
    if (RealNanos(CLOCK_MONOTONIC) > deadline) Fail("the window did not become full-screen within 20 s");
    timespec pause{0, 5 * vclock::kNanosPerMilli};
    nanosleep(&pause, nullptr);
  }
  // The GL driver learns a window's new size only at a buffer swap: without one here the
  // demo's first frame would go into the 1x1 buffer of the window as it was created. This
  // swap shows nothing the film records and takes no virtual time.
  if (glXGetCurrentContext() != nullptr && glXGetCurrentDrawable() == window) {
    static TSwapBuffers swap = Next<TSwapBuffers>("glXSwapBuffers");
    swap(display, window);
  }
  return result;
}

void glXSwapBuffers(Display* display, GLXDrawable drawable) {
  static TSwapBuffers real = Next<TSwapBuffers>("glXSwapBuffers");
  if (!Virtual()) {
    real(display, drawable);
    return;
  }
  // The swap waits for the next retrace; the frame on screen until now fills the film up to
  // the frame of that retrace.
  std::int64_t retrace = Film.Clock.Swap();
  FillTo(vclock::FilmFrameOfRetrace(retrace));
  if (Film.Limit >= 0 && Film.Written >= Film.Limit) {
    Finish();
    std::fflush(stdout);
    Next<TExit>("_exit")(0);
  }
  CheckWindowSize();
  ReadBackBuffer();
  real(display, drawable);
}

void _exit(int status) {
  static TExit real = Next<TExit>("_exit");
  FinishThenEnd(real, status);
}

void _Exit(int status) noexcept {
  static TExit real = Next<TExit>("_Exit");
  FinishThenEnd(real, status);
}

void exit(int status) noexcept {
  static TExit real = Next<TExit>("exit");
  FinishThenEnd(real, status);
}

}  // extern "C"
