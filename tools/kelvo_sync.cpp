// kelvo-sync: measures how well a film of the demo keeps its sync. It decodes the film with
// Debian's ffmpeg, finds the cuts from the frame-to-frame change of small grey copies of the
// frames and the hits from the onsets in the film's own sound, pairs each cut with its hit,
// prints every offset and fails when a cut has no hit or an offset exceeds the limit.
// Usage: kelvo-sync FILM.mp4 [--cuts N] [--limit MS]
//   --cuts N     also fail unless exactly N cuts are found
//   --limit MS   the largest offset allowed (default 10)
// Exit status: 0 in sync, 1 out of sync, 2 a usage or decoding error.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/sync_measure.hpp"

namespace {

constexpr int kThumbWidth = 160, kThumbHeight = 90;
constexpr double kRate = 44100.0;

// Runs a program (no shell) and returns everything it wrote on standard output.
std::string RunAndRead(const std::vector<std::string>& argv) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  const pid_t child = fork();
  if (child < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::fprintf(stderr, "kelvo-sync: cannot run %s: %s\n", args[0], std::strerror(errno));
    _exit(127);
  }
  close(pipeEnds[1]);
  std::string out;
  char buffer[1 << 16];
  for (;;) {
    const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    out.append(buffer, static_cast<std::size_t>(got));
  }
  close(pipeEnds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error(argv[0] + " failed on the film");
  return out;
}

struct TStreams {
  double Fps = 0.0;
  double VideoStart = 0.0;
  double AudioStart = 0.0;
  bool HasVideo = false, HasAudio = false;
};

double Rational(const std::string& text) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) return std::strtod(text.c_str(), nullptr);
  const double den = std::strtod(text.c_str() + slash + 1, nullptr);
  return den == 0.0 ? 0.0 : std::strtod(text.c_str(), nullptr) / den;
}

// The streams' kinds, start times and the video's frame rate, as ffprobe reports them.
TStreams Probe(const std::string& film) {
  const std::string text = RunAndRead({"ffprobe", "-v", "error", "-show_entries",
                                       "stream=codec_type,start_time,avg_frame_rate", "-of",
                                       "default=noprint_wrappers=1", film});
  TStreams streams;
  std::istringstream lines(text);
  std::string line, kind;
  while (std::getline(lines, line)) {
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "codec_type") {
      kind = value;
      if (kind == "video") streams.HasVideo = true;
      if (kind == "audio") streams.HasAudio = true;
    } else if (key == "start_time" && value != "N/A") {
      (kind == "video" ? streams.VideoStart : streams.AudioStart) = std::strtod(value.c_str(), nullptr);
    } else if (key == "avg_frame_rate" && kind == "video") {
      streams.Fps = Rational(value);
    }
  }
  return streams;
}

std::vector<double> FrameChanges(const std::string& film) {
  const std::string frames =
      RunAndRead({"ffmpeg", "-v", "error", "-nostdin", "-i", film, "-map", "0:v:0", "-fps_mode", "passthrough", "-vf",
                  "scale=" + std::to_string(kThumbWidth) + ":" + std::to_string(kThumbHeight) + ":flags=area,format=gray",
                  "-f", "rawvideo", "-"});
  const std::size_t size = static_cast<std::size_t>(kThumbWidth) * kThumbHeight;
  const std::size_t count = frames.size() / size;
  std::vector<double> change(count, 0.0);
  const auto* bytes = reinterpret_cast<const unsigned char*>(frames.data());
  for (std::size_t j = 1; j < count; ++j) change[j] = filmsync::FrameChange(bytes + (j - 1) * size, bytes + j * size, size);
  return change;
}

std::vector<float> Sound(const std::string& film) {
  const std::string raw = RunAndRead({"ffmpeg", "-v", "error", "-nostdin", "-i", film, "-map", "0:a:0", "-ac", "1",
                                      "-ar", std::to_string(static_cast<int>(kRate)), "-f", "f32le", "-"});
  std::vector<float> samples(raw.size() / sizeof(float));
  std::memcpy(samples.data(), raw.data(), samples.size() * sizeof(float));
  return samples;
}

[[noreturn]] void Usage() {
  std::fprintf(stderr, "usage: kelvo-sync FILM.mp4 [--cuts N] [--limit MS]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::string film;
  std::optional<long> expectedCuts;
  double limitMs = 10.0;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--cuts" && i + 1 < argc) {
      expectedCuts = std::strtol(argv[++i], nullptr, 10);
    } else if (arg == "--limit" && i + 1 < argc) {
      limitMs = std::strtod(argv[++i], nullptr);
    } else if (film.empty() && !arg.starts_with("--")) {
      film = arg;
    } else {
      Usage();
    }
  }
  if (film.empty()) Usage();
  try {
    const TStreams streams = Probe(film);
    if (!streams.HasVideo || !streams.HasAudio || streams.Fps <= 0.0) {
      std::fprintf(stderr, "kelvo-sync: %s needs a video stream with a frame rate and a sound stream\n", film.c_str());
      return 2;
    }
    const std::vector<std::size_t> cuts = filmsync::FindCuts(FrameChanges(film));
    const std::vector<filmsync::TPairing> pairings =
        filmsync::PairCutsWithHits(cuts, streams.Fps, streams.VideoStart, Sound(film), kRate, streams.AudioStart);
    double worst = 0.0;
    for (std::size_t i = 0; i < pairings.size(); ++i) {
      std::printf("%s\n", filmsync::DescribePairing(i, pairings[i]).c_str());
      if (pairings[i].HitSeconds) worst = std::max(worst, std::abs(pairings[i].OffsetMs()));
    }
    bool ok = filmsync::AllWithin(pairings, limitMs);
    if (expectedCuts && static_cast<long>(cuts.size()) != *expectedCuts) {
      std::printf("found %zu cuts, expected %ld\n", cuts.size(), *expectedCuts);
      ok = false;
    }
    std::printf("%s: %zu cuts, largest offset %.2f ms (limit %.1f ms)\n", ok ? "in sync" : "OUT OF SYNC", cuts.size(),
                worst, limitMs);
    return ok ? 0 : 1;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvo-sync: %s\n", error.what());
    return 2;
  }
}
