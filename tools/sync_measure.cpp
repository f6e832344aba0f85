// uSyncMeasure: cuts, hits and their pairing (see sync_measure.hpp).
#include "tools/sync_measure.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <numbers>

namespace filmsync {
namespace {

constexpr double kAfterSeconds = 0.005;   // the attack a hit is heard by
constexpr double kBeforeSeconds = 0.010;  // what it rises out of
constexpr double kSearchSeconds = 0.050;  // how far from its cut a hit is looked for
constexpr double kSearchShare = 0.45;     // and at most this share of the way to the next cut
constexpr double kHighPassHz = 2000.0;
constexpr double kSilence = 1e-12;
constexpr double kPlateauDb = 0.5;

double Db(double energy) { return 10.0 * std::log10(energy + kSilence); }

}  // namespace

double FrameChange(const unsigned char* previous, const unsigned char* current, std::size_t bytes) {
  if (bytes == 0) return 0.0;
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < bytes; ++i) sum += static_cast<std::uint64_t>(std::abs(int{current[i]} - int{previous[i]}));
  return static_cast<double>(sum) / static_cast<double>(bytes);
}

std::vector<std::size_t> FindCuts(const std::vector<double>& change, double minChange, double ratio) {
  std::vector<std::size_t> cuts;
  if (change.empty()) return cuts;
  cuts.push_back(0);
  for (std::size_t j = 1; j < change.size(); ++j) {
    const double before = j >= 2 ? change[j - 1] : 0.0;
    const double after = j + 1 < change.size() ? change[j + 1] : 0.0;
    if (change[j] >= minChange && change[j] >= ratio * before && change[j] >= ratio * after) cuts.push_back(j);
  }
  return cuts;
}

std::vector<float> HighPass(const std::vector<float>& samples, double rate, double cutoffHz) {
  std::vector<float> out(samples.size());
  const double rc = 1.0 / (2.0 * std::numbers::pi * cutoffHz);
  const double a = rc / (rc + 1.0 / rate);
  double y = 0.0, x1 = 0.0;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    y = a * (y + samples[i] - x1);
    x1 = samples[i];
    out[i] = static_cast<float>(y);
  }
  return out;
}

TEnergy::TEnergy(const std::vector<float>& samples) : Sums(samples.size() + 1, 0.0) {
  for (std::size_t i = 0; i < samples.size(); ++i) Sums[i + 1] = Sums[i] + double{samples[i]} * samples[i];
}

double TEnergy::Mean(long long from, long long to) const {
  if (to <= from) return 0.0;
  const long long a = std::clamp(from, 0LL, Size()), b = std::clamp(to, 0LL, Size());
  return (Sums[static_cast<std::size_t>(b)] - Sums[static_cast<std::size_t>(a)]) / static_cast<double>(to - from);
}

TEnergy HitEnergy(const std::vector<float>& sound, double rate) { return TEnergy(HighPass(sound, rate, kHighPassHz)); }

std::optional<THit> FindHit(const TEnergy& energy, double rate, long long from, long long to, double minRiseDb) {
  const long long after = std::llround(kAfterSeconds * rate), before = std::llround(kBeforeSeconds * rate);
  auto riseAt = [&](long long n) { return Db(energy.Mean(n, n + after)) - Db(energy.Mean(n - before, n)); };
  std::optional<THit> best;
  for (long long n = std::max(0LL, from); n <= to && n < energy.Size(); ++n) {
    const double rise = riseAt(n);
    if (!best || rise > best->RiseDb) best = THit{n, rise};
  }
  if (!best || best->RiseDb < minRiseDb) return std::nullopt;
  // Just before an attack the rise hardly changes (the quiet before it stays quiet), and it
  // falls off steeply once the attack enters the window before: the attack begins at the
  // end of that plateau.
  for (long long n = best->Sample + 1; n <= best->Sample + after && n < energy.Size(); ++n) {
    if (riseAt(n) >= best->RiseDb - kPlateauDb) best->Sample = n;
  }
  return best;
}

std::vector<TPairing> PairCutsWithHits(const std::vector<std::size_t>& cuts, double fps, double videoStart,
                                       const std::vector<float>& sound, double rate, double audioStart) {
  const TEnergy energy = HitEnergy(sound, rate);
  std::vector<TPairing> pairings;
  for (std::size_t i = 0; i < cuts.size(); ++i) {
    TPairing pairing;
    pairing.Frame = cuts[i];
    pairing.CutSeconds = videoStart + static_cast<double>(cuts[i]) / fps;
    double reach = kSearchSeconds;
    if (i > 0) reach = std::min(reach, kSearchShare * static_cast<double>(cuts[i] - cuts[i - 1]) / fps);
    if (i + 1 < cuts.size()) reach = std::min(reach, kSearchShare * static_cast<double>(cuts[i + 1] - cuts[i]) / fps);
    const double at = (pairing.CutSeconds - audioStart) * rate;
    const auto hit = FindHit(energy, rate, std::llround(at - reach * rate), std::llround(at + reach * rate));
    if (hit) pairing.HitSeconds = audioStart + static_cast<double>(hit->Sample) / rate;
    pairings.push_back(pairing);
  }
  return pairings;
}

bool AllWithin(const std::vector<TPairing>& pairings, double limitMs) {
  return std::all_of(pairings.begin(), pairings.end(),
                     [&](const TPairing& p) { return p.HitSeconds && std::abs(p.OffsetMs()) <= limitMs; });
}

std::string DescribePairing(std::size_t index, const TPairing& pairing) {
  char line[160];
  if (pairing.HitSeconds) {
    std::snprintf(line, sizeof line, "cut %2zu at %8.3f s (frame %5zu): hit at %8.3f s, offset %+7.2f ms", index + 1,
                  pairing.CutSeconds, pairing.Frame, *pairing.HitSeconds, pairing.OffsetMs());
  } else {
    std::snprintf(line, sizeof line, "cut %2zu at %8.3f s (frame %5zu): no hit found near it", index + 1,
                  pairing.CutSeconds, pairing.Frame);
  }
  return line;
}

}  // namespace filmsync
