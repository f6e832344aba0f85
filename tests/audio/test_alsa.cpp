// Tests of the player's write loop and worker thread over a recording stand-in for the PCM
// calls: the exact bytes handed to the device, looping, short last writes, underruns,
// persistent errors, empty buffers, the refusals while playing, the suspended start and
// the worker's stack. Depends on GoogleTest, kelvo_audio and POSIX threads.
#include <pthread.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
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
#include "tests/support/fatal_expect.hpp"

namespace {

using namespace std::chrono_literals;
using TBytes = std::vector<std::uint8_t>;

constexpr std::int64_t kFrameBytes = 4;  // 16-bit stereo

// One call of WriteI as the stand-in saw it.
struct TWrite {
  std::ptrdiff_t Offset;  // from the start of the buffer being played
  std::uint64_t Frames;   // frames asked for
};

// Records every write (the bytes the device took and where they came from) and answers
// with scripted results; with nothing scripted the device takes every frame offered.
class TRecordingPCM final : public IPCMWriter {
 public:
  struct TShared {
    std::mutex Mutex;
    const std::uint8_t* Base = nullptr;
    std::size_t Length = 0;
    TBytes Taken;
    std::vector<TWrite> Writes;
    std::deque<std::int64_t> Script;  // results to give, in order: <0 an error, >=0 frames taken
    int Prepares = 0;
    int PrepareResult = 0;  // what every Prepare answers
    std::vector<int> Recovers;
    bool OutOfBounds = false;
    std::size_t StackSize = 0;
    std::function<void()> AfterWrite;  // runs after each write, outside the lock
  };

  explicit TRecordingPCM(TShared& shared) : Shared(shared) {}

  std::int64_t WriteI(const std::uint8_t* frames, std::uint64_t count) override {
    std::int64_t result;
    {
      std::lock_guard<std::mutex> lock(Shared.Mutex);
      RecordStack();
      const std::ptrdiff_t offset = frames - Shared.Base;
      const auto bytes = static_cast<std::ptrdiff_t>(count) * kFrameBytes;
      if (offset < 0 || offset + bytes > static_cast<std::ptrdiff_t>(Shared.Length)) Shared.OutOfBounds = true;
      Shared.Writes.push_back({offset, count});
      result = static_cast<std::int64_t>(count);
      if (!Shared.Script.empty()) {
        result = Shared.Script.front();
        Shared.Script.pop_front();
      }
      if (result > 0 && !Shared.OutOfBounds) Shared.Taken.insert(Shared.Taken.end(), frames, frames + result * kFrameBytes);
    }
    if (Shared.AfterWrite) Shared.AfterWrite();
    return result;
  }
  int Prepare() override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    ++Shared.Prepares;
    return Shared.PrepareResult;
  }
  int Recover(int error) override {
    std::lock_guard<std::mutex> lock(Shared.Mutex);
    Shared.Recovers.push_back(error);
    return error;
  }
  std::int64_t FramesToBytes(std::int64_t frames) override { return frames * kFrameBytes; }
  const char* StrError(int error) override { return std::strerror(-error); }

 private:
  void RecordStack() {
    pthread_attr_t attributes;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
    pthread_attr_getstacksize(&attributes, &Shared.StackSize);
    pthread_attr_destroy(&attributes);
  }

  TShared& Shared;
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
  TWriteLoopEnd end = RunWriteLoop(pcm, bytes, period, loop);
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
  shared.Script = {10, 32, 0, 5};
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
  shared.Script = {16, -EPIPE, -EPIPE};
  std::atomic<bool> loop{false};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::Finished);
  EXPECT_EQ(output,
            "[uALSA] WARNING: Buffer underrun during playback (-EPIPE)\n"
            "[uALSA] WARNING: Buffer underrun during playback (-EPIPE)\n");
  EXPECT_EQ(shared.Prepares, 2);
  ASSERT_EQ(shared.Writes.size(), 6u);
  EXPECT_EQ(shared.Writes[1].Offset, shared.Writes[3].Offset);
  EXPECT_EQ(shared.Writes[2].Offset, shared.Writes[3].Offset);
  EXPECT_TRUE(shared.Taken == bytes);
}

TEST(WriteLoop, UnderrunsWhoseDeviceCannotBePreparedGiveUpAfterThreeTries) {
  // Every write underruns and no prepare succeeds: the period can never be written.
  const TBytes bytes = Pattern(64 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script.assign(100, -EPIPE);
  shared.PrepareResult = -EBADFD;
  std::atomic<bool> loop{true};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::GaveUp);
  EXPECT_EQ(output,
            "[uALSA] WARNING: Buffer underrun during playback (-EPIPE)\n"
            "[uALSA] WARNING: Buffer underrun during playback (-EPIPE)\n"
            "[uALSA] WARNING: Buffer underrun during playback (-EPIPE)\n"
            "[uALSA] ERROR: giving up playback\n");
  EXPECT_EQ(shared.Writes.size(), 3u);
}

TEST(WriteLoop, AFailedPrepareCountsOnlyUntilAPeriodIsWritten) {
  // Two underruns with a failed prepare, a write that succeeds, two more: never three
  // failures in a row, so the whole buffer is played.
  const TBytes bytes = Pattern(4 * 16 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script = {-EPIPE, -EPIPE, 16, -EPIPE, -EPIPE};
  shared.PrepareResult = -EBADFD;
  std::atomic<bool> loop{false};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::Finished);
  EXPECT_TRUE(shared.Taken == bytes);
  EXPECT_EQ(output.find("giving up"), std::string::npos);
}

TEST(WriteLoop, PersistentErrorEndsTheWorkerAfterThreeTries) {
  const TBytes bytes = Pattern(64 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script.assign(100, -EIO);
  std::atomic<bool> loop{true};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::GaveUp);
  EXPECT_EQ(output,
            "[uALSA] ERROR: Can't write to PCM device: Input/output error\n"
            "[uALSA] ERROR: Can't write to PCM device: Input/output error\n"
            "[uALSA] ERROR: Can't write to PCM device: Input/output error\n"
            "[uALSA] ERROR: giving up playback\n");
  EXPECT_EQ(shared.Writes.size(), 3u);
  EXPECT_EQ(shared.Recovers, (std::vector<int>{-EIO, -EIO, -EIO}));
  EXPECT_FALSE(loop.load());
}

TEST(WriteLoop, ErrorClearsLoopingAndOnlyConsecutiveFailuresCount) {
  // Two failures, a success, two failures again: never three in a row, so the pass ends
  // normally, but looping is off after the first error.
  const TBytes bytes = Pattern(4 * 16 * kFrameBytes);
  TRecordingPCM::TShared shared;
  shared.Script = {-EIO, -EIO, 16, -ENODEV, -EIO};
  std::atomic<bool> loop{true};
  std::string output;
  EXPECT_EQ(RunCaptured(shared, bytes, 16, loop, output), TWriteLoopEnd::Finished);
  EXPECT_FALSE(loop.load());
  EXPECT_TRUE(shared.Taken == bytes);
  EXPECT_EQ(shared.Recovers.size(), 4u);
  EXPECT_EQ(output.find("giving up"), std::string::npos);
  EXPECT_NE(output.find("Can't write to PCM device: No such device\n"), std::string::npos);
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

TEST(Player, RateOtherThanTheSongsIsReported) {
  EXPECT_EQ(RateMismatchWarning(44100, 44100), std::nullopt);
  EXPECT_EQ(RateMismatchWarning(48000, 44100),
            "[uALSA] WARNING: device plays at 48000 Hz, not 44100 Hz; a plug device (plughw:...) converts");
}
