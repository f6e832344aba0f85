// Tests of the player's write loop and worker thread over a recording stand-in for the sound
// output, answering with scripted outcomes, and a clock that moves only when the loop writes
// or waits: the exact bytes handed to the device, looping, short last writes, underruns and
// their bounded warnings, a device that goes away and comes back (where the song goes on, by
// the clock of what is heard), persistent errors, empty buffers, the refusals while playing,
// the suspended start, the worker's stack, and playing in real time through the null output.
#include <pthread.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/alsa.hpp"
#include "base/loglines.hpp"
#include "platform/null/pcm.hpp"
#include "platform/system.hpp"
#include "tests/support/fatal_expect.hpp"

namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

constexpr std::int64_t kFrameBytes = 4;  // 16-bit stereo

// One call of WriteI as the stand-in saw it.
struct TWrite {
  std::ptrdiff_t Offset;  // from the start of the buffer being played
  std::uint64_t Frames;   // frames asked for
  std::int64_t At;        // the clock when it came
};

// What a write can answer, for the scripts.
TPCMOutcome Took(std::uint64_t frames) { return {TPCMResult::Written, frames, {}}; }
const TPCMOutcome kUnderrun{TPCMResult::Underrun, 0, {}};
const TPCMOutcome kSuspended{TPCMResult::Suspended, 0, {}};
TPCMOutcome Gone(const char* words) { return {TPCMResult::DeviceGone, 0, words}; }
TPCMOutcome Failed(const char* words) { return {TPCMResult::Failed, 0, words}; }

// Records every write (the bytes the device took and where they came from) and answers
// with scripted outcomes; with nothing scripted the device takes every frame offered.
class TRecordingPCM final : public IPCMOutput {
 public:
  struct TShared {
    std::mutex Mutex;
    const std::uint8_t* Base = nullptr;
    std::size_t Length = 0;
    TBytes Taken;
    std::vector<TWrite> Writes;
    std::deque<TPCMOutcome> Script;  // outcomes to give, in order
    int Restarts = 0;
    std::optional<std::string> RestartFailure;  // what every Restart answers
    std::string LastFailure;                   // the words of the last failed write
    std::vector<std::string> Recovers;         // the failure each Recover came after
    bool Resumes = false;                      // whether a suspended device resumes
    bool OutOfBounds = false;
    std::size_t StackSize = 0;
    std::function<void()> AfterWrite;  // runs after each write, outside the lock
    // The clock of the loop: each write that takes frames moves it on by their time at
    // 44100 frames a second, each failed write by FailedWriteMicroseconds.
    std::int64_t Now = 1000000;
    std::int64_t FailedWriteMicroseconds = 0;
    std::vector<std::int64_t> Sleeps;
    std::deque<std::optional<std::string>> ReopenScript;  // what Reopen answers, in order (nothing: it opens)
    std::vector<std::int64_t> Reopens;  // when each Reopen came
    std::uint64_t ReopenPeriod = 0;     // the period a reopened device has (0: unchanged)
    // A stream plays its first frame LagFrames after its first write, then one frame in
    // each 44100th of a second (nothing: the device cannot say its delay); a reopened one
    // lags ReopenLagFrames.
    std::optional<std::int64_t> LagFrames;
    std::int64_t ReopenLagFrames = 0;
    std::int64_t StreamTaken = 0;  // frames the current stream took
    std::int64_t StreamStart = 0;  // the time of its first write
  };

  explicit TRecordingPCM(TShared& shared) : Shared(shared) {}

  TPCMOutcome Write(const std::uint8_t* frames, std::uint64_t count) override {
    TPCMOutcome result = Took(count);
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      RecordStack();
      const std::ptrdiff_t offset = frames - Shared.Base;
      const auto bytes = static_cast<std::ptrdiff_t>(count) * kFrameBytes;
      if (offset < 0 || offset + bytes > static_cast<std::ptrdiff_t>(Shared.Length)) Shared.OutOfBounds = true;
      Shared.Writes.push_back({offset, count, Shared.Now});
      if (!Shared.Script.empty()) {
        result = Shared.Script.front();
        Shared.Script.pop_front();
      }
      if (result.Result == TPCMResult::Failed) Shared.LastFailure = result.Error;
      const auto taken = result.Result == TPCMResult::Written ? static_cast<std::int64_t>(result.Frames) : 0;
      if (Shared.StreamTaken == 0) Shared.StreamStart = Shared.Now;
      if (taken > 0) Shared.StreamTaken += taken;
      if (taken > 0 && !Shared.OutOfBounds) Shared.Taken.insert(Shared.Taken.end(), frames, frames + taken * kFrameBytes);
      Shared.Now += taken > 0 ? taken * 1000000 / 44100 : Shared.FailedWriteMicroseconds;
    }
    if (Shared.AfterWrite) Shared.AfterWrite();
    return result;
  }
  std::uint64_t FrameBytes() const override { return kFrameBytes; }
  std::optional<std::string> Restart() override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    ++Shared.Restarts;
    return Shared.RestartFailure;
  }
  bool Resume() override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    return Shared.Resumes;
  }
  // ALSA's words, as the Linux lines carry them.
  std::string SuspendedWords() const override { return "Streams pipe error"; }
  std::string UnderrunWords() const override { return "Broken pipe"; }
  void Recover() override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    Shared.Recovers.push_back(Shared.LastFailure);
  }
  std::optional<std::int64_t> Delay() override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    if (!Shared.LagFrames) return std::nullopt;
    const auto played = static_cast<std::int64_t>(FramesAt(Shared.Now - Shared.StreamStart, 44100)) - *Shared.LagFrames;
    return Shared.StreamTaken - std::clamp<std::int64_t>(played, 0, Shared.StreamTaken);
  }
  std::optional<std::string> Reopen(std::uint64_t& periodFrames) override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    Shared.Reopens.push_back(Shared.Now);
    std::optional<std::string> result;
    if (!Shared.ReopenScript.empty()) {
      result = Shared.ReopenScript.front();
      Shared.ReopenScript.pop_front();
    }
    if (!result && Shared.ReopenPeriod > 0) periodFrames = Shared.ReopenPeriod;
    if (!result && Shared.LagFrames) {
      Shared.LagFrames = Shared.ReopenLagFrames;
      Shared.StreamTaken = 0;
    }
    return result;
  }

 private:
  void RecordStack() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
    pthread_attr_getstacksize(&attributes, &Shared.StackSize);
    pthread_attr_destroy(&attributes);
  }

  TShared& Shared;
};

// The loop's clock: the stand-in's time, moved on by sleeps.
class TScriptedClock final : public IPlaybackClock {
 public:
  explicit TScriptedClock(TRecordingPCM::TShared& shared) : Shared(shared) {}
  std::int64_t NowMicroseconds() override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    return Shared.Now;
  }
  void SleepMicroseconds(std::int64_t duration) override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    Shared.Sleeps.push_back(duration);
    Shared.Now += duration;
  }

 private:
  TRecordingPCM::TShared& Shared;
};

TBytes Pattern(std::size_t count) {
  TBytes b(count);
  for (std::size_t i = 0; i < count; ++i) b[i] = static_cast<std::uint8_t>((i * 7 + (i >> 9)) & 0xff);
  return b;
}

TUInt8DynArray ToArray(const TBytes& bytes) {
  TUInt8DynArray array = TUInt8DynArray::Uninitialized(bytes.size());
  if (!bytes.empty()) std::memcpy(array.Data(), bytes.data(), bytes.size());
  return array;
}

TBytes Twice(const TBytes& b) {
  TBytes both = b;
  both.insert(both.end(), b.begin(), b.end());
  return both;
}

// A helper thread with a small stack. The C library reuses the stacks of ended threads for
// new ones that ask for less, so a helper with the default (larger) stack would hide the
// player's own stack size from the test that measures it.
class TSmallThread {
 public:
  explicit TSmallThread(std::function<void()> body) : Body(std::move(body)) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 256 * 1024);
    Created = pthread_create(&Thread, &attributes, &TSmallThread::Main, this) == 0;
    pthread_attr_destroy(&attributes);
  }
  ~TSmallThread() {
    if (Created) pthread_join(Thread, nullptr);
  }

 private:
  static void* Main(void* self) {
    static_cast<TSmallThread*>(self)->Body();
    return nullptr;
  }
  std::function<void()> Body;
  pthread_t Thread{};
  bool Created = false;
};

// Runs the loop over bytes with stdout captured; returns how it ended and sets output. A
// loop still running after five seconds fails the test, and clearing loop then ends it
// (a loop that spins without writing would otherwise hang the test).
TWriteLoopEnd RunCaptured(TRecordingPCM::TShared& shared, const TBytes& bytes, std::uint64_t period,
                          std::atomic<bool>& loop, std::string& output) {
  shared.Base = bytes.data();
  shared.Length = bytes.size();
  TRecordingPCM pcm(shared);
  TScriptedClock clock(shared);
  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  bool timedOut = false;
  TSmallThread watchdog([&] {
    std::unique_lock<std::mutex> lock(mutex);
    if (!changed.wait_for(lock, 5s, [&] { return done; })) {
      timedOut = true;
      loop.store(false);
    }
  });
  testing::internal::CaptureStdout();
  TWriteLoopEnd end = RunWriteLoop(pcm, bytes, period, loop, clock, 44100);
  output = testing::internal::GetCapturedStdout();
  {
    std::lock_guard<std::mutex> lock(mutex);
    done = true;
  }
  changed.notify_all();
  EXPECT_FALSE(timedOut) << "the write loop did not end by itself";
  return end;
}

template <class Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = 5000ms) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

}  // namespace

TEST(WriteLoop, TwoLoopedPassesHandTheDeviceExactlyTheBufferTwice) {
  // Two whole periods of 64 frames and 37 frames more: each pass ends with a short write.
  const TBytes bytes = Pattern((2 * 64 + 37) * kFrameBytes);
  TRecordingPCM::TShared shared;
  std::atomic<bool> loop{true};
  shared.AfterWrite = [&] {
    std::lock_guard<std::mutex> lock(shared.Mutex);
    if (shared.Taken.size() >= 2 * bytes.size()) loop.store(false);
  };
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 64, loop, output), TWriteLoopEnd::Finished);
  EXPECT_FALSE(shared.OutOfBounds);
  EXPECT_TRUE(shared.Taken == Twice(bytes));
  std::vector<std::uint64_t> frames;
  std::vector<std::ptrdiff_t> offsets;
  for (const TWrite& w : shared.Writes) {
    frames.push_back(w.Frames);
    offsets.push_back(w.Offset);
  }
  EXPECT_EQ(frames, (std::vector<std::uint64_t>{64, 64, 37, 64, 64, 37}));
  EXPECT_EQ(offsets, (std::vector<std::ptrdiff_t>{0, 256, 512, 0, 256, 512}));
  EXPECT_EQ(output, "");
}

TEST(WriteLoop, PlaysOncePartialTakesAndATrailingPartialFrame) {
  // 100 frames and two stray bytes; the device takes less than offered now and then.
  const TBytes bytes = Pattern(100 * kFrameBytes + 2);
  TRecordingPCM::TShared shared;
  shared.Script = {Took(10), Took(32), Took(0), Took(5)};
  std::atomic<bool> loop{false};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 32, loop, output), TWriteLoopEnd::Finished);
  EXPECT_FALSE(shared.OutOfBounds);
  EXPECT_TRUE(shared.Taken == TBytes(bytes.begin(), bytes.end() - 2));
  ASSERT_GE(shared.Writes.size(), 4u);
  EXPECT_EQ(shared.Writes[1].Offset, 10 * kFrameBytes);
  EXPECT_EQ(shared.Writes[2].Offset, 42 * kFrameBytes);
  EXPECT_EQ(shared.Writes[3].Offset, 42 * kFrameBytes);  // nothing taken: same place again
  EXPECT_EQ(shared.Writes.back().Frames, 100u - 10 - 32 - 5 - 32);
}

TEST(WriteLoop, UnderrunRewritesTheSamePeriodAfterItsWarning) {
  const TBytes bytes = Pattern(4 * 16 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script = {Took(16), kUnderrun, kUnderrun};
  std::atomic<bool> loop{false};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::Finished);
  // The second underrun comes within the same second: its line is held back.
  EXPECT_EQ(output, "[uALSA] WARNING: Buffer underrun during playback (-EPIPE)\n");
  EXPECT_EQ(shared.Restarts, 2);
  ASSERT_EQ(shared.Writes.size(), 6u);
  EXPECT_EQ(shared.Writes[1].Offset, shared.Writes[3].Offset);
  EXPECT_EQ(shared.Writes[2].Offset, shared.Writes[3].Offset);
  EXPECT_TRUE(shared.Taken == bytes);
}

TEST(WriteLoop, UnderrunWarningsAreWrittenAtMostOnceASecondWithTheCountHeldBack) {
  // 40 underruns, each followed by a good period; a failed write takes 100 ms, so they
  // spread over about four seconds.
  const TBytes bytes = Pattern(40 * 16 * kFrameBytes);
  TRecordingPCM::TShared shared;
  for (int i = 0; i < 40; ++i) {
    shared.Script.push_back(kUnderrun);
    shared.Script.push_back(Took(16));
  }
  shared.FailedWriteMicroseconds = 100000;
  std::atomic<bool> loop{false};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::Finished);
  EXPECT_TRUE(shared.Taken == bytes);
  std::vector<std::string> lines;
  std::uint64_t counted = 0;
  for (std::size_t start = 0, end; (end = output.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(output.substr(start, end - start));
    const std::uint64_t occurrences = OccurrencesInLine(lines.back(), kUnderrunLine);
    EXPECT_GE(occurrences, 1u) << lines.back();
    counted += occurrences;
  }
  ASSERT_EQ(lines.size(), 4u) << output;  // at 0, 1.0, 2.0 and 3.0 s of the 4 s
  EXPECT_EQ(lines[0], "[uALSA] WARNING: Buffer underrun during playback (-EPIPE)");
  EXPECT_EQ(lines[1], "[uALSA] WARNING: Buffer underrun during playback (-EPIPE) (9 more since the last such line)");
  // Each underrun is in one line or one count; the last second's nine wait for the next line.
  EXPECT_EQ(counted, 40u - 9);
  // What the benchmark counts, after a frame-rate report too; other lines count nothing.
  EXPECT_EQ(OccurrencesInLine("  57 fps\r" + lines[1], kUnderrunLine), 10u);
  EXPECT_EQ(OccurrencesInLine(std::string(kUnderrunLine) + " (x more since the last such line)", kUnderrunLine), 0u);
  EXPECT_EQ(OccurrencesInLine("[uALSA] INFO: ALSA setup done", kUnderrunLine), 0u);
}

TEST(WriteLoop, SongFrameByTheClock) {
  EXPECT_EQ(FramesAt(-5, 44100), 0u);
  EXPECT_EQ(FramesAt(1500000, 44100), 66150u);
  // About 58 centuries of microseconds: no overflow on the way.
  EXPECT_EQ(FramesAt(std::int64_t{1} << 57, 48000), (std::uint64_t{1} << 57) / 1000000 * 48000 +
                                                        (std::uint64_t{1} << 57) % 1000000 * 48000 / 1000000);
  EXPECT_EQ(SongFrameAt(0, 44100, 100000, true, 0), 0u);
  EXPECT_EQ(SongFrameAt(1000000, 44100, 100000, true, 0), 44100u);
  EXPECT_EQ(SongFrameAt(3000000, 44100, 100000, true, 0), 32300u);  // in its second pass
  // Not looping: the song ends with the pass it was in.
  EXPECT_EQ(SongFrameAt(2000000, 44100, 100000, false, 0), 88200u);
  EXPECT_EQ(SongFrameAt(3000000, 44100, 100000, false, 0), std::nullopt);
  EXPECT_EQ(SongFrameAt(3000000, 44100, 100000, false, 1), 32300u);
  EXPECT_EQ(SongFrameAt(1000000, 44100, 0, true, 0), std::nullopt);
  // Frame 0 was heard when the frames written less those still delayed began to play;
  // nothing while none is heard yet, or the device says less than nothing.
  EXPECT_EQ(HeardOrigin(5000000, 88200 + 4410, 4410, 44100), 3000000);
  EXPECT_EQ(HeardOrigin(5000000, 4410, 4410, 44100), std::nullopt);
  EXPECT_EQ(HeardOrigin(5000000, 4410, 8820, 44100), std::nullopt);
  EXPECT_EQ(HeardOrigin(5000000, 4410, -1, 44100), std::nullopt);
}

namespace {

// How a device goes away in a case of the gone-device test.
struct TGoneCase {
  const char* Name;
  std::deque<TPCMOutcome> Script;  // the writes from the first failing one on
  std::optional<std::string> RestartFailure;
  const char* Reason;  // the reason the warning gives
  bool Resumes = false;
};

}  // namespace

TEST(WriteLoop, AGoneDeviceIsSaidOnceOpenedAgainFourTimesASecondAndPlaysOnWhereTheClockIs) {
  const std::vector<TGoneCase> cases = {
      {"no such device", {Gone("No such device")}, std::nullopt, "No such device"},
      {"bad descriptor state", {Gone("File descriptor in bad state")}, std::nullopt, "File descriptor in bad state"},
      {"input/output error", {Gone("Input/output error")}, std::nullopt, "Input/output error"},
      {"suspended, not resumed", {kSuspended}, std::nullopt, "Streams pipe error"},
      {"suspended again as soon as resumed", {kSuspended, kSuspended, kSuspended}, std::nullopt, "Streams pipe error",
       true},
      {"underruns that restarting does not cure", {kUnderrun, kUnderrun, kUnderrun}, std::nullopt, "Broken pipe"},
      {"an underrun that cannot be restarted", {kUnderrun}, "File descriptor in bad state",
       "File descriptor in bad state"},
  };
  for (const TGoneCase& gone : cases) {
    SCOPED_TRACE(gone.Name);
    // Ten seconds of song (441000 frames); the device goes away after 2 s of it and
    // stays away 45 failed openings (11.25 s), then comes back with a shorter period.
    const TBytes bytes = Pattern(441000 * kFrameBytes);
    TRecordingPCM::TShared shared;
    const std::int64_t started = shared.Now;
    shared.Script.assign(88200 / 441, Took(441));
    for (const TPCMOutcome& outcome : gone.Script) shared.Script.push_back(outcome);
    shared.RestartFailure = gone.RestartFailure;
    shared.Resumes = gone.Resumes;
    shared.ReopenScript.assign(45, "Host is down");
    shared.ReopenPeriod = 100;
    std::atomic<bool> loop{true};
    shared.AfterWrite = [&] {
      std::lock_guard<std::mutex> lock(shared.Mutex);
      if (shared.Taken.size() >= bytes.size() + 4 * kFrameBytes * 441) loop.store(false);
    };
    std::string output;
    EXPECT_EQ(RunCaptured(shared, bytes, 441, loop, output), TWriteLoopEnd::Finished);

    std::lock_guard<std::mutex> lock(shared.Mutex);
    // Never busy: one sleep of a quarter second before every opening.
    ASSERT_EQ(shared.Reopens.size(), 46u);
    EXPECT_EQ(shared.Sleeps, std::vector<std::int64_t>(46, kReopenIntervalMicroseconds));
    // After the opening that worked, writes go on at the frame the clock gives and with the
    // new period, through the end of the song and round to its start.
    const std::size_t resumed = 88200 / 441 + gone.Script.size();
    ASSERT_GT(shared.Writes.size(), resumed + 1);
    const std::int64_t back = shared.Reopens.back();
    const auto expected = static_cast<std::ptrdiff_t>(FramesAt(back - started, 44100) % 441000 * kFrameBytes);
    EXPECT_EQ(shared.Writes[resumed].Offset, expected);
    EXPECT_EQ(shared.Writes[resumed].Frames, 100u);
    EXPECT_EQ(expected, static_cast<std::ptrdiff_t>(154350 * kFrameBytes));  // 13.5 s: 3.5 s into the second pass
    EXPECT_TRUE(std::any_of(shared.Writes.begin() + static_cast<std::ptrdiff_t>(resumed), shared.Writes.end(),
                            [](const TWrite& w) { return w.Offset == 0; }))
        << "still looping";
    EXPECT_FALSE(shared.OutOfBounds);
    const std::string warning = std::string("[uALSA] WARNING: the sound device went away (") + gone.Reason +
                                "); opening it again four times a second\n";
    const std::size_t at = output.find(warning);
    ASSERT_NE(at, std::string::npos) << output;
    EXPECT_EQ(output.substr(at + warning.size()),
              "[uALSA] WARNING: the sound device is still away after 10.0 s (Host is down)\n"
              "[uALSA] INFO: the sound device is back after 11.5 s; the song goes on at 3.5 s\n")
        << output;
  }
}

TEST(WriteLoop, TheClockCountsFromTheFirstFrameHeardAndAReturnLandsThere) {
  // The device plays its first frame half a second after the first write; it goes away
  // after 2 s of writing and comes back at the fifth opening with a stream that starts
  // playing 0.2 s after its first write. Ten seconds of song, looping.
  const TBytes bytes = Pattern(441000 * kFrameBytes);
  TRecordingPCM::TShared shared;
  const std::int64_t started = shared.Now;
  shared.LagFrames = 22050;
  shared.ReopenLagFrames = 8820;
  shared.Script.assign(88200 / 441, Took(441));
  shared.Script.push_back(Gone("No such device"));
  shared.ReopenScript.assign(4, "Host is down");
  std::atomic<bool> loop{true};
  shared.AfterWrite = [&] {
    std::lock_guard<std::mutex> lock(shared.Mutex);
    if (shared.Taken.size() >= 6 * 44100 * kFrameBytes) loop.store(false);
  };
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 441, loop, output), TWriteLoopEnd::Finished);

  std::lock_guard<std::mutex> lock(shared.Mutex);
  ASSERT_EQ(shared.Reopens.size(), 5u);
  EXPECT_FALSE(shared.OutOfBounds);
  // When the first frame of each write after the return is heard, and the place of the song
  // the clock gives then, counting from the first frame heard (0.5 s after the first write).
  const std::size_t resumed = 88200 / 441 + 1;
  ASSERT_GT(shared.Writes.size(), resumed + 100);
  const std::int64_t heardStart = started + 500000;
  std::int64_t heardAt = shared.Writes[resumed].At + 200000;
  std::size_t jumps = 0;
  std::size_t firstAtPlace = 0;
  for (std::size_t i = resumed; i < shared.Writes.size(); ++i) {
    const TWrite& w = shared.Writes[i];
    const auto place = static_cast<std::ptrdiff_t>(FramesAt(heardAt - heardStart, 44100) % 441000 * kFrameBytes);
    if (firstAtPlace == 0 && w.Offset == place) firstAtPlace = i;
    if (firstAtPlace != 0) {
      EXPECT_EQ(w.Offset, place) << "write " << i;
    }
    heardAt += static_cast<std::int64_t>(w.Frames) * 1000000 / 44100;
    const TWrite& before = shared.Writes[i - 1];
    const std::ptrdiff_t next = before.Offset + static_cast<std::ptrdiff_t>(before.Frames) * kFrameBytes;
    if (i > resumed && w.Offset != next % static_cast<std::ptrdiff_t>(bytes.size())) ++jumps;
  }
  // One jump, once the new stream is heard (0.2 s after its first write; until then it is
  // given only kReturnAheadMicroseconds of song, a poll at a time), and the song stays there.
  EXPECT_EQ(jumps, 1u);
  ASSERT_NE(firstAtPlace, 0u) << output;
  EXPECT_LE(shared.Writes[firstAtPlace].At - shared.Writes[resumed].At, 200000 + kReturnPollMicroseconds);
  EXPECT_LE(firstAtPlace - resumed, static_cast<std::size_t>(kReturnAheadMicroseconds / 10000 + 1));
  EXPECT_TRUE(std::all_of(shared.Sleeps.begin() + 5, shared.Sleeps.end(),
                          [](std::int64_t sleep) { return sleep == kReturnPollMicroseconds; }));
  EXPECT_EQ(output,
            "[uALSA] WARNING: the sound device went away (No such device); opening it again four times a second\n"
            "[uALSA] INFO: the sound device is back after 1.2 s; the song goes on at 2.8 s\n");
}

TEST(WriteLoop, AGoneDeviceThatComesBackOnlyAfterTheSongsEndEndsPlayingThere) {
  // Not looping, one second of song; the device is away for good.
  const TBytes bytes = Pattern(44100 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script = {Took(441), Gone("No such device")};
  shared.ReopenScript.assign(1000, "No such device");
  std::atomic<bool> loop{false};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 441, loop, output), TWriteLoopEnd::Finished);
  // Opened again until the song would have ended, a second after its start.
  EXPECT_EQ(shared.Reopens.size(), 3u);
  EXPECT_EQ(output, "[uALSA] WARNING: the sound device went away (No such device); opening it again four times a second\n");
}

TEST(WriteLoop, UnderrunsThatPreparingCuresAreNotAGoneDevice) {
  // Two underruns in a row, a period, two more: always cured.
  const TBytes bytes = Pattern(4 * 16 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script = {kUnderrun, kUnderrun, Took(16), kUnderrun, kUnderrun};
  std::atomic<bool> loop{false};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::Finished);
  EXPECT_TRUE(shared.Taken == bytes);
  EXPECT_TRUE(shared.Reopens.empty());
  EXPECT_EQ(output.find("went away"), std::string::npos);
}

TEST(WriteLoop, PersistentErrorEndsTheWorkerAfterThreeTries) {
  const TBytes bytes = Pattern(64 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script.assign(100, Failed("Invalid argument"));
  std::atomic<bool> loop{true};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::GaveUp);
  // The same error within a second is said once.
  EXPECT_EQ(output,
            "[uALSA] ERROR: Can't write to PCM device: Invalid argument\n"
            "[uALSA] ERROR: giving up playback\n");
  EXPECT_EQ(shared.Writes.size(), 3u);
  EXPECT_EQ(shared.Recovers, std::vector<std::string>(3, "Invalid argument"));
  EXPECT_FALSE(loop.load());
}

TEST(WriteLoop, ErrorClearsLoopingAndOnlyConsecutiveFailuresCount) {
  // Two failures, a success, two failures again: never three in a row, so the pass ends
  // normally, but looping is off after the first error.
  const TBytes bytes = Pattern(4 * 16 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script = {Failed("Invalid argument"), Failed("Invalid argument"), Took(16), Failed("Device or resource busy"),
                   Failed("Invalid argument")};
  std::atomic<bool> loop{true};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::Finished);
  EXPECT_FALSE(loop.load());
  EXPECT_TRUE(shared.Taken == bytes);
  EXPECT_EQ(shared.Recovers.size(), 4u);
  EXPECT_EQ(output.find("giving up"), std::string::npos);
  EXPECT_EQ(output, "[uALSA] ERROR: Can't write to PCM device: Invalid argument\n");
}

TEST(WriteLoop, EmptyOrSubFrameBufferEndsAtOnceEvenWhenLooping) {
  for (std::size_t size : {0, 3}) {
    const TBytes bytes = Pattern(size);
    TRecordingPCM::TShared shared;
    std::atomic<bool> loop{true};
    std::string output;
    EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::Finished) << size;
    EXPECT_TRUE(shared.Writes.empty()) << size;
  }
}

TEST(Player, WorkerWaitsForStartThenPlaysOnceAndClearsRunning) {
  TRecordingPCM::TShared shared;
  TALSA player(std::make_unique<TRecordingPCM>(shared), 32);
  std::this_thread::sleep_for(100ms);
  {
    std::lock_guard<std::mutex> lock(shared.Mutex);
    EXPECT_TRUE(shared.Writes.empty());
  }
  EXPECT_FALSE(player.Running.load());

  const TBytes bytes = Pattern(1000 * kFrameBytes);
  TUInt8DynArray array = ToArray(bytes);
  shared.Base = array.Data();
  shared.Length = array.Length();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(player.PlayBuffer(array, false));
  EXPECT_TRUE(player.Buffer.SharesWith(array));
  EXPECT_TRUE(WaitUntil([&] { return !player.Running.load(); }));
  // The worker plays one buffer in the life of the object.
  EXPECT_FALSE(player.PlayBuffer(array, false));
  std::string output = testing::internal::GetCapturedStdout();
  EXPECT_EQ(output, "[uALSA] ERROR: PlayBuffer called after playback finished; a player plays once.\n");

  std::lock_guard<std::mutex> lock(shared.Mutex);
  EXPECT_TRUE(shared.Taken == bytes);
  EXPECT_FALSE(shared.OutOfBounds);
  EXPECT_EQ(shared.StackSize, kPlaybackStackSize);
}

TEST(Player, EmptyBufferWarnsAndTheWorkerEndsWithoutWriting) {
  TRecordingPCM::TShared shared;
  TALSA player(std::make_unique<TRecordingPCM>(shared), 32);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(player.PlayBuffer(TUInt8DynArray(), true));
  EXPECT_TRUE(WaitUntil([&] { return !player.Running.load(); }));
  player.Loop.store(false);  // a worker that spins on the empty buffer can end now
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "[uALSA] WARNING: pcm buffer is empty!\n");
  std::lock_guard<std::mutex> lock(shared.Mutex);
  EXPECT_TRUE(shared.Writes.empty());
}

TEST(Player, PlayBufferAndStartWhilePlayingAreRefusedAndChangeNothing) {
  TRecordingPCM::TShared shared;
  // The first write blocks until the test lets it go, so the worker is surely playing.
  std::mutex gateMutex;
  std::condition_variable gateChanged;
  bool gateOpen = false;
  std::atomic<bool> writing{false};
  shared.AfterWrite = [&] {
    writing.store(true);
    std::unique_lock<std::mutex> lock(gateMutex);
    gateChanged.wait(lock, [&] { return gateOpen; });
  };
  TALSA player(std::make_unique<TRecordingPCM>(shared), 16);
  const TBytes bytes = Pattern(64 * kFrameBytes);
  TUInt8DynArray array = ToArray(bytes);
  shared.Base = array.Data();
  shared.Length = array.Length();
  ASSERT_TRUE(player.PlayBuffer(array, true));
  ASSERT_TRUE(WaitUntil([&] { return writing.load(); }));

  TUInt8DynArray other = ToArray(Pattern(8));
  testing::internal::CaptureStdout();
  EXPECT_FALSE(player.PlayBuffer(other, false));
  player.Start();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "[uALSA] ERROR: PlayBuffer called whilst thread not finished.\n"
            "[uALSA] ERROR: Start called whilst thread not finished.\n");
  EXPECT_TRUE(player.Buffer.SharesWith(array));
  EXPECT_TRUE(player.Loop.load());
  EXPECT_TRUE(player.Running.load());

  // Let the worker finish its pass.
  player.Loop.store(false);
  {
    std::lock_guard<std::mutex> lock(gateMutex);
    gateOpen = true;
  }
  gateChanged.notify_all();
  EXPECT_TRUE(WaitUntil([&] { return !player.Running.load(); }));
  std::lock_guard<std::mutex> lock(shared.Mutex);
  EXPECT_FALSE(shared.OutOfBounds);
}

TEST(Player, DestroyingAPlayerThatStillLoopsEndsTheLoopAndReturns) {
  // A looping worker over a device that takes everything at once never ends by itself;
  // the destructor must end the loop rather than wait for it. The child is killed after
  // ten seconds if it hangs.
  TChildOutcome outcome = RunInChild(
      [] {
        TRecordingPCM::TShared shared;
        std::atomic<bool> writing{false};
        shared.AfterWrite = [&] { writing.store(true); };
        const TBytes bytes = Pattern(64 * kFrameBytes);
        TUInt8DynArray array = ToArray(bytes);
        shared.Base = array.Data();
        shared.Length = array.Length();
        {
          TALSA player(std::make_unique<TRecordingPCM>(shared), 16);
          if (!player.PlayBuffer(array, true)) _exit(3);
          if (!WaitUntil([&] { return writing.load(); })) _exit(4);
        }
        if (shared.OutOfBounds) _exit(5);
      },
      10);
  EXPECT_TRUE(outcome.Returned) << "status " << outcome.Status << ", signal " << outcome.Signal;
}

TEST(Player, PlaysInRealTimeThroughTheNullOutput) {
  // A quarter second of song through an output without a device that plays in real time:
  // the worker ends once the last period is in the output's buffer (four periods of 10 ms),
  // so after about 0.21 s, not at once.
  const TBytes bytes = Pattern(11025 * kFrameBytes);
  TPCMDevice device = OpenNullPCMDevice({"null", 44100, 2}, 441);
  ASSERT_EQ(device.Failure, "");
  ASSERT_EQ(device.Rate, 44100u);
  TALSA player(std::move(device.Output), device.PeriodFrames, device.Rate);
  const auto started = std::chrono::steady_clock::now();
  ASSERT_TRUE(player.PlayBuffer(ToArray(bytes), false));
  ASSERT_TRUE(WaitUntil([&] { return !player.Running.load(); }));
  const auto took = std::chrono::steady_clock::now() - started;
  EXPECT_GE(took, 200ms);
  EXPECT_LT(took, 2s);
}
