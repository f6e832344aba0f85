// Films of the demo made by scripts/film: two 10-second films of the same build (made by the
// CTest fixture film_make) must be a proper 1920x1080 60 fps H.264 + AAC MP4 of the right
// length, show the sixteen pictures in order and then the harbour, carry the song from its
// start, and be the same frame for frame. A film whose run the demo ends itself (Escape)
// is finished with its info file and plays.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "base/facts.hpp"
#include "platform/loglines.hpp"
#include "tests/support/harness.hpp"
#include "tests/support/xclient.hpp"

using namespace std::chrono_literals;

namespace {

const std::string kBuild = KELVO_BUILD_DIR;
const std::string kFilms = kBuild + "/film-tests";
const std::string kFirst = kFilms + "/first.mp4";
const std::string kSecond = kFilms + "/second.mp4";
constexpr int kSeconds = 10;
constexpr int kFps = 60;
// Frames and pictures are compared at this size (keeps the decode small).
constexpr int kThumbWidth = 64;
constexpr int kThumbHeight = 36;
constexpr std::size_t kThumbBytes = static_cast<std::size_t>(kThumbWidth) * kThumbHeight * 3;

// Runs a program to its end and returns its stdout; fails the test unless it ends with 0.
std::string RunTool(const std::string& program, const std::vector<std::string>& arguments) {
  TDemoProcess process(program, arguments);
  TExitResult result = process.WaitExit(300s);
  EXPECT_TRUE(result.Exited && result.Code == 0) << program << " failed";
  return process.Output();
}

std::string Probe(const std::string& film, const std::string& stream, const std::string& entries) {
  return RunTool("ffprobe", {"-v", "error", "-select_streams", stream, "-show_entries", entries, "-of",
                         "default=noprint_wrappers=1", film});
}

std::map<std::string, std::string> Fields(const std::string& text) {
  std::map<std::string, std::string> fields;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    auto at = line.find('=');
    if (at != std::string::npos) fields[line.substr(0, at)] = line.substr(at + 1);
  }
  return fields;
}

// The top-level boxes of an MP4 file, in order.
std::vector<std::string> TopLevelBoxes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> boxes;
  for (;;) {
    unsigned char header[16];
    if (!file.read(reinterpret_cast<char*>(header), 8)) break;
    std::uint64_t size = (std::uint64_t{header[0]} << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
    std::uint64_t headerSize = 8;
    if (size == 1) {
      if (!file.read(reinterpret_cast<char*>(header + 8), 8)) break;
      size = 0;
      for (int i = 8; i < 16; ++i) size = (size << 8) | header[i];
      headerSize = 16;
    }
    boxes.emplace_back(reinterpret_cast<char*>(header + 4), 4);
    if (size < headerSize) break;
    file.seekg(static_cast<std::streamoff>(size - headerSize), std::ios::cur);
  }
  return boxes;
}

// Every frame of a film (or the one picture of an image file), scaled to the thumbnail size.
std::vector<std::string> Thumbnails(const std::string& path) {
  std::string raw = RunTool("ffmpeg", {"-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-vf",
                                   "scale=" + std::to_string(kThumbWidth) + ":" + std::to_string(kThumbHeight) +
                                       ":flags=area",
                                   "-pix_fmt", "rgb24", "-f", "rawvideo", "-"});
  std::vector<std::string> frames;
  for (std::size_t at = 0; at + kThumbBytes <= raw.size(); at += kThumbBytes) frames.push_back(raw.substr(at, kThumbBytes));
  EXPECT_EQ(raw.size() % kThumbBytes, 0u);
  return frames;
}

double MeanDifference(const std::string& a, const std::string& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i)
    sum += std::abs(static_cast<int>(static_cast<unsigned char>(a[i])) - static_cast<int>(static_cast<unsigned char>(b[i])));
  return sum / static_cast<double>(a.size());
}

// The pictures of the store, in show order: arte1 ... arte16, then the harbour background.
std::vector<std::string> StorePictures() {
  std::vector<std::string> names;
  for (int i = 1; i <= 16; ++i) names.push_back("TEX_ARTE" + std::to_string(i));
  names.push_back("TEX_BACKGROUND");
  std::string list = RunTool(kBuild + "/kelvo-res", {"list", kBuild + "/kelvo"});
  std::vector<std::string> thumbs;
  std::filesystem::path dir = std::filesystem::temp_directory_path() / ("kelvo-film-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  for (const std::string& name : names) {
    EXPECT_NE(list.find(name), std::string::npos) << name << " is not in the store";
    std::string bmp = (dir / (name + ".bmp")).string();
    RunTool(kBuild + "/kelvo-res", {"extract", kBuild + "/kelvo", name, bmp});
    std::vector<std::string> picture = Thumbnails(bmp);
    EXPECT_EQ(picture.size(), 1u) << name;
    thumbs.push_back(picture.empty() ? std::string(kThumbBytes, '\0') : picture[0]);
  }
  std::filesystem::remove_all(dir);
  return thumbs;
}

// Stereo 16-bit samples of a film's sound track at 44100 frames a second.
std::vector<std::int16_t> FilmSamples(const std::string& film) {
  std::string raw = RunTool("ffmpeg", {"-nostdin", "-v", "error", "-i", film, "-map", "0:a:0", "-f", "s16le", "-ac", "2",
                                   "-ar", "44100", "-"});
  std::vector<std::int16_t> samples(raw.size() / 2);
  std::memcpy(samples.data(), raw.data(), samples.size() * 2);
  return samples;
}

class Film : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::exists(kFirst) && std::filesystem::exists(kSecond))
        << "the films are made by the test film_make (run the tests with ./test.sh -L film)";
  }
};

TEST_F(Film, IsAFullHdSixtyFpsH264AndAacMp4OfTheRequestedLength) {
  auto video = Fields(Probe(kFirst, "v:0", "stream=codec_name,width,height,pix_fmt,r_frame_rate,avg_frame_rate,nb_frames"));
  EXPECT_EQ(video["codec_name"], "h264");
  EXPECT_EQ(video["width"], std::to_string(kDesignWidthPixels));
  EXPECT_EQ(video["height"], std::to_string(kDesignHeightPixels));
  EXPECT_EQ(video["pix_fmt"], "yuv420p");
  EXPECT_EQ(video["r_frame_rate"], "60/1");
  EXPECT_EQ(video["avg_frame_rate"], "60/1");  // constant: every frame 1/60 s
  EXPECT_EQ(video["nb_frames"], std::to_string(kSeconds * kFps));

  auto audio = Fields(Probe(kFirst, "a:0", "stream=codec_name,sample_rate,channels,duration"));
  EXPECT_EQ(audio["codec_name"], "aac");
  EXPECT_EQ(audio["sample_rate"], "44100");
  EXPECT_EQ(audio["channels"], "2");
  EXPECT_NEAR(std::stod(audio["duration"].empty() ? "0" : audio["duration"]), kSeconds, 0.03);

  auto format = Fields(Probe(kFirst, "v:0", "format=duration"));
  EXPECT_NEAR(std::stod(format["duration"].empty() ? "0" : format["duration"]), kSeconds, 0.03);

  // The index comes before the media data, so the film plays while it is still loading.
  std::vector<std::string> boxes = TopLevelBoxes(kFirst);
  auto moov = std::find(boxes.begin(), boxes.end(), "moov");
  auto mdat = std::find(boxes.begin(), boxes.end(), "mdat");
  ASSERT_NE(moov, boxes.end());
  ASSERT_NE(mdat, boxes.end());
  EXPECT_LT(moov, mdat);
}

TEST_F(Film, ShowsTheSixteenPicturesInOrderThenTheHarbour) {
  std::vector<std::string> pictures = StorePictures();
  std::vector<std::string> frames = Thumbnails(kFirst);
  ASSERT_EQ(frames.size(), static_cast<std::size_t>(kSeconds * kFps));
  constexpr std::size_t kHarbour = 16;
  // The picture each frame looks most like, clearly more than like any other.
  std::vector<std::size_t> shown;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    std::vector<double> distance;
    for (const std::string& picture : pictures) distance.push_back(MeanDifference(frames[f], picture));
    std::size_t best = static_cast<std::size_t>(std::min_element(distance.begin(), distance.end()) - distance.begin());
    double second = 1e9;
    for (std::size_t p = 0; p < distance.size(); ++p)
      if (p != best) second = std::min(second, distance[p]);
    shown.push_back(best);
    // A picture fills the whole frame: only the texture's sampling and H.264 differ. The
    // harbour has the sun, the boat, the water and the text over its background.
    if (best < kHarbour) {
      EXPECT_LT(distance[best], 20.0) << "frame " << f << " is like no picture";
      EXPECT_LT(2 * distance[best], second) << "frame " << f << " is like two pictures";
    }
  }
  EXPECT_EQ(shown.front(), 0u) << "the film does not start with arte1";
  // Each picture in turn, none left out or repeated, each for about a quarter second.
  std::vector<std::pair<std::size_t, std::size_t>> runs;  // picture, frames
  for (std::size_t picture : shown) {
    if (runs.empty() || runs.back().first != picture) runs.push_back({picture, 0});
    ++runs.back().second;
  }
  ASSERT_EQ(runs.size(), 17u);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].first, i) << "run " << i;
    if (i < kHarbour) {
      EXPECT_GE(runs[i].second, 13u) << "arte" << i + 1;
      EXPECT_LE(runs[i].second, 16u) << "arte" << i + 1;
    }
  }
  // The harbour from about 3.8 s to the end; its boat and water move from frame to frame.
  EXPECT_GT(runs.back().second, static_cast<std::size_t>(5 * kFps));
  EXPECT_GT(MeanDifference(frames[frames.size() - 1], frames[frames.size() - 61]), 0.0);
}

TEST_F(Film, SoundIsTheSongFromWherePlaybackStarted) {
  TWavSamples song;
  {
    std::string path = kFilms + "/song-" + std::to_string(getpid()) + ".wav";
    RunTool(kBuild + "/kelvo-res", {"extract", kBuild + "/kelvo", "SONG", path});
    song = ReadWav16(path);
    std::filesystem::remove(path);
  }
  ASSERT_EQ(song.Channels, 2);
  ASSERT_EQ(song.SampleRate, 44100);
  std::vector<std::int16_t> film = FilmSamples(kFirst);
  // The sound lasts as long as the pictures (within one AAC block).
  EXPECT_NEAR(static_cast<double>(film.size() / 2), kSeconds * 44100.0, 1024);

  // The film's sample i is the song's sample i + lag. Playback starts on the main thread a
  // few clock reads after 0, and the film's first frame is at 1/60 s (735 samples), so the
  // song's first ~734 samples are before the film.
  auto mono = [](const std::vector<std::int16_t>& s, std::size_t i) { return double(s[2 * i]) + double(s[2 * i + 1]); };
  const std::size_t from = 44100 / 2;
  const std::size_t count = 8 * 44100;
  ASSERT_GE(film.size() / 2, from + count);
  double bestCorrelation = -2;
  long bestLag = -1;
  for (long lag = 0; lag <= 2000; ++lag) {
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = from; i < from + count; i += 3) {
      double a = mono(film, i);
      double b = mono(song.Samples, i + static_cast<std::size_t>(lag));
      ab += a * b;
      aa += a * a;
      bb += b * b;
    }
    double correlation = ab / std::sqrt(aa * bb + 1e-9);
    if (correlation > bestCorrelation) {
      bestCorrelation = correlation;
      bestLag = lag;
    }
  }
  EXPECT_GT(bestCorrelation, 0.95);
  EXPECT_GE(bestLag, 700) << "the song starts too late in the film";
  EXPECT_LE(bestLag, 735) << "the song starts too early in the film";
}

TEST_F(Film, TwoFilmsOfTheSameBuildAreTheSameFrameForFrame) {
  auto checksums = [](const std::string& film) {
    return RunTool("ffmpeg", {"-nostdin", "-v", "error", "-i", film, "-map", "0:v:0", "-f", "framemd5", "-"});
  };
  std::string first = checksums(kFirst);
  std::string second = checksums(kSecond);
  std::size_t lines = static_cast<std::size_t>(std::count(first.begin(), first.end(), '\n'));
  EXPECT_GT(lines, static_cast<std::size_t>(kSeconds * kFps));
  EXPECT_EQ(first, second);
  auto sound = [](const std::string& film) {
    return RunTool("ffmpeg", {"-nostdin", "-v", "error", "-i", film, "-map", "0:a:0", "-f", "md5", "-"});
  };
  EXPECT_EQ(sound(kFirst), sound(kSecond));
}

// The demo ends the run itself (Escape, about a second into a film with no frame limit):
// the preloaded library finishes the film as the process ends (the demo ends through
// std::_Exit), so the info file is written and the encoder gets whole frames up to the end,
// as scripts/film needs them. (The run is on this test's own screen, where the key can be
// sent; scripts/film would start a screen of its own.)
TEST(FilmEndedByTheDemo, EscapeGivesTheInfoFileAndAPlayableFilmOfTheFramesDrawn) {
  ASSERT_NO_FATAL_FAILURE(RequireHarness());
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("kelvo-film-escape-" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::string pipe = (dir / "video").string();
  const std::string info = (dir / "info").string();
  const std::string film = (dir / "escaped.mp4").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  const std::string size = std::to_string(kDesignWidthPixels) + "x" + std::to_string(kDesignHeightPixels);
  TDemoProcess encoder("ffmpeg", {"-nostdin", "-v", "error", "-f", "rawvideo", "-pix_fmt", "bgr0", "-video_size", size,
                                  "-framerate", std::to_string(kFps), "-i", pipe, "-c:v", "libx264", "-preset",
                                  "ultrafast", "-pix_fmt", "yuv420p", "-f", "mp4", film});
  TXClient x;
  TDemoProcess demo(kBuild + "/kelvo", {},
                    {{"LD_PRELOAD", kBuild + "/libkelvo-film.so"}, {"KELVO_FILM_VIDEO", pipe}, {"KELVO_FILM_INFO", info}});
  ASSERT_TRUE(demo.WaitForLine(kMappedWindowLine, 60s)) << demo.Output();
  ASSERT_TRUE(x.FindClientWindow(10s, demo.Pid()));
  std::this_thread::sleep_for(1s);
  x.SendKey(9);  // Escape
  const TExitResult ended = demo.WaitExit(120s);
  EXPECT_TRUE(ended.Exited && ended.Code == kExitOk) << "status " << ended.Code << ", signal " << ended.Signal;
  const TExitResult encoded = encoder.WaitExit(120s);
  EXPECT_TRUE(encoded.Exited && encoded.Code == 0) << encoder.Output();

  std::map<std::string, std::string> fields;
  {
    std::ifstream file(info);
    ASSERT_TRUE(file) << "the film wrote no info file";
    for (std::string key, value; file >> key >> value;) fields[key] = value;
  }
  EXPECT_EQ(fields["mapped"], "1");
  const std::size_t frames = Thumbnails(film).size();  // every frame decodes
  EXPECT_GT(frames, 0u);
  EXPECT_EQ(fields["frames"], std::to_string(frames));
  EXPECT_EQ(Fields(Probe(film, "v:0", "stream=nb_frames"))["nb_frames"], std::to_string(frames));
  std::filesystem::remove_all(dir);
}

}  // namespace
