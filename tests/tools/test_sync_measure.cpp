// The sync check: cuts found in a series of frame changes, hits found in made-up sounds,
// their pairing, and kelvo-sync itself on small films made with ffmpeg whose cuts and
// clicks are known, one in sync and one with a click 20 ms late, and on a film of the
// opening's schedule with the demo's song placed as a film of the demo places it.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "film/schedule.hpp"
#include "tests/support/files.hpp"
#include "tools/sync_measure.hpp"

namespace {

constexpr double kRate = 44100.0;

// A quiet hum with a decaying noise burst at each of the given instants (seconds).
std::vector<float> Clicks(double seconds, const std::vector<double>& at, unsigned seed = 1) {
  std::vector<float> sound(static_cast<std::size_t>(seconds * kRate));
  for (std::size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<float>(0.01 * std::sin(2 * M_PI * 110.0 * i / kRate));
  unsigned state = seed;
  for (const double t : at) {
    const std::size_t start = static_cast<std::size_t>(std::llround(t * kRate));
    for (std::size_t i = 0; i < static_cast<std::size_t>(0.03 * kRate) && start + i < sound.size(); ++i) {
      state = state * 1103515245u + 12345u;
      const double noise = static_cast<double>((state >> 8) & 0xFFFF) / 32768.0 - 1.0;
      sound[start + i] += static_cast<float>(0.5 * noise * std::exp(-static_cast<double>(i) / (0.008 * kRate)));
    }
  }
  return sound;
}

TEST(SyncCuts, PictureChangesCountButSteadyMotionDoesNot) {
  // Frame 0 always counts; a jump out of stillness counts; motion of a steady size does
  // not, nor does a small jump; a jump out of motion counts when it towers over it.
  const std::vector<double> change = {0, 0.2, 0.2, 60, 0.3, 0.2, 5, 5, 5, 5, 3.5, 0.1, 2, 0.1, 40, 6, 6, 25, 12, 6};
  EXPECT_EQ(filmsync::FindCuts(change), (std::vector<std::size_t>{0, 3, 14}));
  EXPECT_EQ(filmsync::FindCuts({}), (std::vector<std::size_t>{}));
  EXPECT_EQ(filmsync::FindCuts({0}), (std::vector<std::size_t>{0}));
  // A cut in the last frame has no neighbour after it.
  EXPECT_EQ(filmsync::FindCuts({0, 0.1, 50}), (std::vector<std::size_t>{0, 2}));

  const unsigned char a[4] = {0, 10, 200, 255}, b[4] = {10, 0, 100, 255};
  EXPECT_DOUBLE_EQ(filmsync::FrameChange(a, b, 4), 30.0);
}

TEST(SyncHits, TheSharpestRiseNearAnInstant) {
  const std::vector<float> sound = Clicks(1.0, {0.0, 0.4, 0.43});
  const filmsync::TEnergy energy = filmsync::HitEnergy(sound, kRate);
  // The burst at 0.4 s, found to the sample or close, even with another 30 ms later.
  const auto hit = filmsync::FindHit(energy, kRate, std::llround(0.35 * kRate), std::llround(0.45 * kRate));
  ASSERT_TRUE(hit.has_value());
  EXPECT_NEAR(static_cast<double>(hit->Sample), 0.4 * kRate, 10.0);
  EXPECT_GT(hit->RiseDb, 20.0);
  // At the very start of the sound the silence before it counts.
  const auto first = filmsync::FindHit(energy, kRate, -2000, 2000);
  ASSERT_TRUE(first.has_value());
  EXPECT_LE(first->Sample, 5);
  // Only the hum: no hit.
  EXPECT_FALSE(filmsync::FindHit(energy, kRate, std::llround(0.6 * kRate), std::llround(0.9 * kRate)).has_value());
}

TEST(SyncPairing, OffsetsInTheFilmsTimeWhereverEachStreamStarts) {
  // Cuts at frames 0, 15, 29 and 45 of a 60 fps film; the third click comes 12 ms late and
  // the fourth is missing.
  const std::vector<std::size_t> cuts = {0, 15, 29, 45};
  const std::vector<float> sound = Clicks(1.0, {0.0, 0.25, 29.0 / 60 + 0.012});
  std::vector<filmsync::TPairing> pairings = filmsync::PairCutsWithHits(cuts, 60.0, 0.0, sound, kRate, 0.0);
  ASSERT_EQ(pairings.size(), 4u);
  EXPECT_NEAR(pairings[0].OffsetMs(), 0.0, 0.25);
  EXPECT_NEAR(pairings[1].OffsetMs(), 0.0, 0.25);
  EXPECT_NEAR(pairings[2].OffsetMs(), 12.0, 0.25);
  EXPECT_FALSE(pairings[3].HitSeconds.has_value());
  EXPECT_FALSE(filmsync::AllWithin(pairings, 10.0));
  pairings.pop_back();
  EXPECT_FALSE(filmsync::AllWithin(pairings, 10.0));
  EXPECT_TRUE(filmsync::AllWithin(pairings, 12.5));
  EXPECT_NE(filmsync::DescribePairing(2, pairings[2]).find("offset  +12.0"), std::string::npos)
      << filmsync::DescribePairing(2, pairings[2]);

  // A sound track that starts 5 ms after the picture: its sample 0 is film time 0.005.
  const std::vector<float> late = Clicks(1.0, {0.245});
  const auto shifted = filmsync::PairCutsWithHits({0, 15}, 60.0, 0.0, late, kRate, 0.005);
  ASSERT_TRUE(shifted[1].HitSeconds.has_value());
  EXPECT_NEAR(shifted[1].OffsetMs(), 0.0, 0.25);
}

// ---- kelvo-sync on films made with ffmpeg ---------------------------------------------------

class SyncFilm : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(std::system("command -v ffmpeg > /dev/null && command -v ffprobe > /dev/null"), 0)
        << "ffmpeg and ffprobe are needed (./test.sh installs them)";
    // One folder per test: CTest runs them side by side.
    Dir = std::filesystem::path(KELVO_BUILD_DIR) / "test_sync_films" /
          ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::filesystem::remove_all(Dir);
    std::filesystem::create_directories(Dir);
  }
  void TearDown() override {
    std::filesystem::remove_all(Dir);
    std::error_code ignored;  // the last test to finish removes the emptied folder
    std::filesystem::remove(Dir.parent_path(), ignored);
  }

  // A 60 fps film as long as the sound: flat grey pictures that change at the given frames,
  // with a bar that moves every frame across them, and the sound (mono, 44100 Hz).
  std::string MakeFilm(const std::string& name, const std::vector<int>& cutFrames, const std::vector<float>& sound) {
    constexpr int kWidth = 320, kHeight = 180;
    const int kFrames = static_cast<int>(static_cast<double>(sound.size()) / kRate * 60.0);
    const std::string video = (Dir / (name + ".gray")).string(), audio = (Dir / (name + ".f32")).string();
    std::ofstream frames(video, std::ios::binary);
    int picture = 0;
    for (int j = 0; j < kFrames; ++j) {
      while (picture + 1 < static_cast<int>(cutFrames.size()) && cutFrames[picture + 1] <= j) ++picture;
      std::vector<unsigned char> frame(kWidth * kHeight, static_cast<unsigned char>(40 + 53 * (picture % 4)));
      for (int y = 80; y < 100; ++y) {
        for (int x = 0; x < 12; ++x) frame[y * kWidth + (j * 4 + x) % kWidth] = 250;
      }
      frames.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    }
    frames.close();
    std::ofstream(audio, std::ios::binary)
        .write(reinterpret_cast<const char*>(sound.data()), static_cast<std::streamsize>(sound.size() * sizeof(float)));
    const std::string film = (Dir / (name + ".mp4")).string();
    const std::string command = "ffmpeg -v error -nostdin -y -f rawvideo -pix_fmt gray -s 320x180 -r 60 -i " + video +
                                " -f f32le -ar 44100 -ac 1 -i " + audio +
                                " -c:v libx264 -pix_fmt yuv420p -c:a aac -b:a 192k -shortest -movflags +faststart " + film;
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return film;
  }

  struct TResult {
    int Status = -1;
    std::string Output;
  };
  TResult Check(const std::string& film, const std::string& options) {
    const std::string out = (Dir / "out.txt").string();
    const std::string command = std::string(KELVO_BUILD_DIR) + "/kelvo-sync " + film + " " + options + " > " + out;
    const int status = std::system(command.c_str());
    std::ifstream in(out);
    TResult result{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
                   std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>())};
    return result;
  }

  std::filesystem::path Dir;
};

const std::vector<int> kCutFrames = {0, 15, 30, 44, 58, 72, 86, 100, 114};

std::vector<float> ClicksOnTheCuts(double lateSecond = 0.0, std::size_t late = 99) {
  std::vector<double> times;
  for (const int frame : kCutFrames) times.push_back(frame / 60.0 + (times.size() == late ? lateSecond : 0.0));
  return Clicks(3.0, times);
}

TEST_F(SyncFilm, AFilmInSyncPassesWithEveryOffsetPrinted) {
  const std::string film = MakeFilm("even", kCutFrames, ClicksOnTheCuts());
  const TResult result = Check(film, "--cuts 9");
  EXPECT_EQ(result.Status, 0) << result.Output;
  for (std::size_t i = 0; i < kCutFrames.size(); ++i) {
    char frame[32];
    std::snprintf(frame, sizeof frame, "(frame %5d)", kCutFrames[i]);
    EXPECT_NE(result.Output.find(frame), std::string::npos) << frame << "\n" << result.Output;
  }
  EXPECT_NE(result.Output.find("in sync: 9 cuts"), std::string::npos) << result.Output;
  // The wrong number of cuts fails even in sync.
  EXPECT_EQ(Check(film, "--cuts 17").Status, 1);
}

TEST_F(SyncFilm, AClickTwentyMillisecondsLateFails) {
  const std::string film = MakeFilm("late", kCutFrames, ClicksOnTheCuts(0.020, 5));
  const TResult result = Check(film, "");
  EXPECT_EQ(result.Status, 1) << result.Output;
  EXPECT_NE(result.Output.find("OUT OF SYNC"), std::string::npos) << result.Output;
  const std::size_t line = result.Output.find("(frame    72)");
  ASSERT_NE(line, std::string::npos) << result.Output;
  const std::size_t offset = result.Output.find("offset", line);
  ASSERT_NE(offset, std::string::npos) << result.Output;
  EXPECT_NEAR(std::strtod(result.Output.c_str() + offset + 6, nullptr), 20.0, 3.0) << result.Output;
  // A looser limit lets it pass.
  EXPECT_EQ(Check(film, "--limit 25").Status, 0);
}

// The opening as a film of the demo shows it: film frame j is the screen from retrace j + 1
// on, so each picture's cut comes one frame before the drawn frame that first shows it, and
// the song's first sample sits at the start of playback, before the film's start. With
// the song of this build the check passes, even through the AAC encoder; the same song a
// frame late fails it.
TEST_F(SyncFilm, TheSongsOpeningIsInSyncOnTheSchedule) {
  const TOpeningSchedule schedule = ComputeOpeningSchedule();
  std::vector<int> cuts;
  for (const std::int32_t frame : schedule.PictureFrame) cuts.push_back(frame - 1);
  cuts.push_back(schedule.HarbourFrame - 1);

  const std::vector<std::uint8_t> wav = ReadBytes(std::string(KELVO_RES_DIR) + "/SONG.wav");
  ASSERT_GT(wav.size(), 44u + 4u * 44100u * 5u);
  auto songAt = [&](double seconds) {
    const auto frame = static_cast<std::size_t>(std::llround(seconds * kRate));
    std::int16_t left = 0, right = 0;
    std::memcpy(&left, wav.data() + 44 + 4 * frame, 2);
    std::memcpy(&right, wav.data() + 46 + 4 * frame, 2);
    return static_cast<float>((left + right) / 65536.0);
  };
  // Film time 0 is retrace 1; the song started at playback.
  const double skipped = static_cast<double>(vclock::RetraceTime(1) - schedule.PlaybackNs) / 1e9;
  auto filmSound = [&](double lateSeconds) {
    std::vector<float> sound(static_cast<std::size_t>(4.5 * kRate), 0.0f);
    for (std::size_t i = 0; i < sound.size(); ++i) {
      const double songTime = static_cast<double>(i) / kRate + skipped - lateSeconds;
      if (songTime >= 0.0) sound[i] = songAt(songTime);
    }
    return sound;
  };
  const TResult result = Check(MakeFilm("song", cuts, filmSound(0.0)), "--cuts 17");
  EXPECT_EQ(result.Status, 0) << result.Output;
  std::printf("%s", result.Output.c_str());
  EXPECT_EQ(Check(MakeFilm("song-late", cuts, filmSound(1.0 / 60.0)), "--cuts 17").Status, 1);
}

}  // namespace
