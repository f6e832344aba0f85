// The platform seam's contract: what platform/*.hpp promise portable code, checked through
// those headers alone, so that one file holds every system to the same promises. It is
// built in each system's tree and run there: Linux's, the Windows tree under Wine, the null
// system's, and the web's under Node. A porter's new system passes it before the demo runs.
// Its own main does what the demo's does first (PrepareProcess, ProgramArguments).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/clock.hpp"
#include "platform/image.hpp"
#include "platform/pcm.hpp"
#include "platform/process.hpp"
#include "platform/tempfile.hpp"
#include "platform/thread.hpp"

namespace {

int gArgumentCount = 0;
std::vector<std::string> gArguments;

std::vector<std::uint8_t> Pattern(std::size_t size, unsigned seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * seed + i / 251);
  return bytes;
}

TEST(SeamProcess, MainsWordsArriveInOrderWithTheProgramFirst) {
  ASSERT_EQ(gArguments.size(), static_cast<std::size_t>(gArgumentCount));
  ASSERT_FALSE(gArguments.empty());
  EXPECT_FALSE(gArguments.front().empty());
}

TEST(SeamClocks, NeverGoBackAndASleepLastsItsTime) {
  std::uint64_t tick = TickMilliseconds();
  std::int64_t micro = MonotonicMicroseconds();
  for (int read = 0; read < 100000; ++read) {
    const std::uint64_t nextTick = TickMilliseconds();
    const std::int64_t nextMicro = MonotonicMicroseconds();
    ASSERT_GE(nextTick, tick);
    ASSERT_GE(nextMicro, micro);
    tick = nextTick;
    micro = nextMicro;
  }
  const double wall = WallMilliseconds();
  EXPECT_EQ(wall, std::floor(wall));  // whole milliseconds, the frame pacer's unit
  EXPECT_GT(wall, 1.7e12);            // since 1970, not since the machine started
  // The player's short sleeps keep their length (a system tick of 15.6 ms would double it),
  // and the clocks agree to the millisecond over them.
  const std::int64_t before = MonotonicMicroseconds();
  const std::uint64_t beforeTick = TickMilliseconds();
  for (int sleep = 0; sleep < 20; ++sleep) SleepMicroseconds(5000);
  const std::int64_t slept = MonotonicMicroseconds() - before;
  EXPECT_GE(slept, 20 * 5000);
  EXPECT_LT(slept, 20 * 10000) << "a 5 ms sleep took " << slept / 20 << " us";
  EXPECT_NEAR(static_cast<double>(TickMilliseconds() - beforeTick), static_cast<double>(slept) / 1000.0, 2.0);
  EXPECT_NEAR(WallMilliseconds() - wall, static_cast<double>(slept) / 1000.0, 2.0);
}

// A worker that counts its runs, reads what was set before it was released, and uses most
// of the stack it asked for: the player's 4 MiB, more than a system's default may be.
class TProbeThread final : public TThread {
 public:
  static constexpr std::size_t kStack = 4 * 1024 * 1024;
  TProbeThread() : TThread(kStack) {}
  ~TProbeThread() override { Finish(); }
  void Start() {
    Resume();
    Resume();
  }
  void Wait() { Finish(); }
  using TThread::Resumed;

  std::atomic<int> Runs{0};
  int Given = 0;
  int Seen = 0;
  std::uint32_t Sum = 0;

 protected:
  void Execute() override {
    SetCurrentThreadPriority(TThreadPriority::Background);
    Runs.fetch_add(1);
    Seen = Given;
    volatile std::uint8_t deep[kStack * 3 / 4];
    for (std::size_t i = 0; i < sizeof deep; ++i) deep[i] = static_cast<std::uint8_t>(i);
    for (std::size_t i = 0; i < sizeof deep; i += 4096) Sum += deep[i];
    // A worker that sleeps lets the others (and, where tasks take turns, the main thread) on.
    SleepMicroseconds(2000);
  }
};

TEST(SeamThreads, RunOnceWhenReleasedAndNeverWhenNot) {
  {
    TProbeThread idle;
    EXPECT_FALSE(idle.Resumed());
  }  // ends without running
  TProbeThread first;
  TProbeThread second;
  first.Given = 7;
  second.Given = 11;
  first.Start();
  second.Start();
  EXPECT_TRUE(first.Resumed());
  first.Wait();
  second.Wait();
  second.Wait();
  EXPECT_EQ(first.Runs.load(), 1);
  EXPECT_EQ(second.Runs.load(), 1);
  EXPECT_EQ(first.Seen, 7);
  EXPECT_EQ(second.Seen, 11);
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < TProbeThread::kStack * 3 / 4; i += 4096) sum += static_cast<std::uint8_t>(i);
  EXPECT_EQ(first.Sum, sum);
}

// Makes a file named name in the system's private folders and, while its folder stands
// (a folder made only for the file goes once it is placed), a second file at the same name;
// returns the first's path.
std::string CreateInPrivateFolder(TPlatformFile& file, TPlatformFile& second, TPlatformFile::TAttempt& again,
                                  const std::string& name) {
  std::string path;
  std::string failure;
  const bool placed = PlaceInPrivateFolder(
      [&](const std::string& folder, std::string& why) {
        path = folder + name;
        const TPlatformFile::TAttempt attempt = file.Create(path);
        why = path + ": " + attempt.Error;
        if (attempt.Result != TPlatformFile::TResult::Created) return false;
        again = second.Create(path);
        return true;
      },
      failure);
  EXPECT_TRUE(placed) << failure;
  return placed ? path : std::string();
}

std::vector<std::uint8_t> ReadAll(const TPlatformFile& file) {
  std::vector<std::uint8_t> bytes(file.Size());
  bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
  return bytes;
}

TEST(SeamTemporaryFiles, ReadBackThroughTheirHandleAndLeaveNothingBehind) {
  const std::string name = "kelvo-seam-" + std::to_string(MonotonicMicroseconds()) + ".tmp";
  TPlatformFile file;
  TPlatformFile second;
  TPlatformFile::TAttempt again;
  const std::string path = CreateInPrivateFolder(file, second, again, name);
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(file.IsOpen());
  const std::vector<std::uint8_t> bytes = Pattern(300000, 7);
  std::string error;
  ASSERT_TRUE(file.Write(bytes, error)) << error;
  ASSERT_TRUE(file.Write(std::span(bytes).first(10), error)) << error;
  std::vector<std::uint8_t> expected(bytes.size() + 10);
  std::copy(bytes.begin(), bytes.end(), expected.begin());
  std::copy_n(bytes.begin(), 10, expected.begin() + static_cast<std::ptrdiff_t>(bytes.size()));
  EXPECT_EQ(file.Size(), expected.size());
  EXPECT_EQ(ReadAll(file), expected);
  std::uint8_t tail[32];
  EXPECT_EQ(file.ReadAt(expected.size() - 4, tail, sizeof tail), 4u);
  EXPECT_EQ(tail[3], expected.back());
  EXPECT_EQ(file.ReadAt(expected.size(), tail, sizeof tail), 0u);
  // A library that opens files by name reaches this very file by the name given.
  if (const std::string library = file.LibraryPath(); !library.empty()) {
    std::ifstream stream(library, std::ios::binary);
    const std::vector<std::uint8_t> seen((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    EXPECT_EQ(seen, expected);
  }

  // The second file at the same name was made, or sent elsewhere; the first keeps its bytes.
  EXPECT_TRUE(again.Result == TPlatformFile::TResult::Created || again.Result == TPlatformFile::TResult::TryElsewhere)
      << again.Error;
  if (again.Result == TPlatformFile::TResult::Created) {
    ASSERT_TRUE(second.Write(std::span(bytes).first(5), error)) << error;
    EXPECT_EQ(second.Size(), 5u);
  }
  second.Close();
  EXPECT_EQ(ReadAll(file), expected);

  file.Close();
  file.Close();
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(file.ReadAt(0, tail, sizeof tail), 0u);
  EXPECT_FALSE(file.Write(std::span(bytes).first(1), error));
  EXPECT_FALSE(error.empty());
  std::error_code ignored;
  EXPECT_FALSE(std::filesystem::exists(path, ignored)) << path;
}

TEST(SeamImage, TheProgramReadsItsOwnFileAndMissingFilesAreRefusedInWords) {
  const std::string path = ExecutablePath();
  ASSERT_FALSE(path.empty());
  // Its folder ends in a separator, and is the path's own where the path names one.
  const std::string folder = ExecutableDirectory();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(FolderPartLength(folder), folder.size()) << folder;
  if (FolderPartLength(path) > 0) {
    EXPECT_EQ(folder, path.substr(0, FolderPartLength(path)));
  }
  std::string error;
  const auto self = TMappedFile::OpenSelf(error);
  ASSERT_TRUE(self) << error;
  const auto bytes = self->Bytes();
  ASSERT_GE(bytes.size(), 8192u);
  const std::vector<std::uint8_t> head(bytes.begin(), bytes.begin() + 4096);
  const std::vector<std::uint8_t> end(bytes.end() - 4096, bytes.end());
  self->Prefetch(bytes);
  self->Release(bytes.subspan(0, bytes.size() / 2));
  self->Release(bytes);
  // Pages let go are read again from the file, unchanged.
  EXPECT_TRUE(std::equal(head.begin(), head.end(), bytes.begin()));
  EXPECT_TRUE(std::equal(end.begin(), end.end(), bytes.end() - 4096));

  const std::string missing = path + ".missing";
  EXPECT_FALSE(TMappedFile::Open(missing, error));
  EXPECT_TRUE(error.starts_with("cannot open " + missing + ": ")) << error;
}

TEST(SeamSound, TheDefaultOutputPlaysOrSaysInOneLineWhyNot) {
  // A request no device can take is refused in one line, never handed out.
  const TPCMDevice none = OpenPCMDevice({"default", 44100, 0}, false);
  EXPECT_FALSE(none.Output);
  EXPECT_FALSE(none.Failure.empty());
  EXPECT_EQ(none.Failure.find('\n'), std::string::npos) << none.Failure;

  EXPECT_FALSE(PCMFormatName().empty());
  const TPCMDevice device = OpenPCMDevice({"default", 44100, 2}, false);
  if (!device.Output) {
    // No sound server here: the line says so.
    EXPECT_FALSE(device.Failure.empty());
    EXPECT_EQ(device.Failure.find('\n'), std::string::npos) << device.Failure;
    return;
  }
  EXPECT_TRUE(device.Failure.empty()) << device.Failure;
  EXPECT_EQ(device.Output->FrameBytes(), 4u);
  EXPECT_GT(device.Rate, 0u);
  ASSERT_GT(device.PeriodFrames, 0u);
  const std::vector<std::uint8_t> silence(device.PeriodFrames * 4);
  const TPCMOutcome outcome = device.Output->Write(silence.data(), device.PeriodFrames);
  EXPECT_TRUE((outcome.Result == TPCMResult::Written && outcome.Frames <= device.PeriodFrames) ||
              outcome.Result == TPCMResult::Underrun)
      << outcome.Error;
  EXPECT_FALSE(device.Output->UnderrunWords().empty());
}

}  // namespace

int main(int argc, char** argv) {
  PrepareProcess();
  gArgumentCount = argc;
  gArguments = ProgramArguments(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
