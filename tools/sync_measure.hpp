// uSyncMeasure: the arithmetic of the sync check, apart from decoding so that it can be
// tried on made-up signals. A cut is a frame that differs from the one before far more than
// its neighbours differ from theirs; a hit is where the sound's energy rises most sharply
// near a cut; each cut is paired with its hit and the offset judged.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace filmsync {

// Mean absolute difference of two frames of equal size (grey levels 0..255).
double FrameChange(const unsigned char* previous, const unsigned char* current, std::size_t bytes);

// The frames that begin a new picture, given change[j] = FrameChange(frame j-1, frame j)
// (change[0] is ignored: frame 0 always counts, the show starts with a picture). A frame
// is a cut when its change is at least minChange and at least ratio times the change of
// each neighbour, so steady motion (a scrolling text, a rocking boat) never counts.
std::vector<std::size_t> FindCuts(const std::vector<double>& change, double minChange = 4.0, double ratio = 3.0);

// A first-order high-pass at cutoffHz.
std::vector<float> HighPass(const std::vector<float>& samples, double rate, double cutoffHz);

// The sound's energy, summed up to each sample, for windows of any length at any place.
class TEnergy {
 public:
  explicit TEnergy(const std::vector<float>& samples);
  // Mean energy of samples [from, to), those outside the sound counting as silence.
  double Mean(long long from, long long to) const;
  long long Size() const { return static_cast<long long>(Sums.size()) - 1; }

 private:
  std::vector<double> Sums;
};

// The energy hits are looked for in: the sound above 2 kHz, where the attacks of stabs,
// ticks and crashes stand out of the held chords and the bass.
TEnergy HitEnergy(const std::vector<float>& sound, double rate);

struct THit {
  long long Sample = 0;  // where the rise begins
  double RiseDb = 0.0;   // energy just after against just before
};

// Where in [from, to] an attack begins: the energy of the next 5 ms rises most above that
// of the 10 ms before, taken at the last sample before that rise falls off; none when no
// rise reaches minRiseDb.
std::optional<THit> FindHit(const TEnergy& energy, double rate, long long from, long long to, double minRiseDb = 3.0);

struct TPairing {
  double CutSeconds = 0.0;
  std::size_t Frame = 0;
  std::optional<double> HitSeconds;  // none: no hit near the cut
  double OffsetMs() const { return HitSeconds ? (*HitSeconds - CutSeconds) * 1000.0 : 0.0; }
};

// Pairs every cut with the hit found within 50 ms of it (less when cuts come closer, so
// that no hit is searched nearer to another cut). Frame j starts at videoStart + j / fps
// in the film, sample n of the sound at audioStart + n / rate.
std::vector<TPairing> PairCutsWithHits(const std::vector<std::size_t>& cuts, double fps, double videoStart,
                                       const std::vector<float>& sound, double rate, double audioStart);

// True when every cut has a hit within limitMs.
bool AllWithin(const std::vector<TPairing>& pairings, double limitMs);

// One line per pairing: the cut, its frame, the hit and the offset (or that none was found).
std::string DescribePairing(std::size_t index, const TPairing& pairing);

}  // namespace filmsync
