// A picture being painted: straight (not premultiplied) RGBA in floats, top row first,
// with checked pixel access, compositing, and the small colour helpers every painter
// uses.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <vector>

#include "base/fatal.hpp"

struct TRgb {
  float R = 0, G = 0, B = 0;
};

struct TRgba {
  float R = 0, G = 0, B = 0, A = 0;
};

inline float Clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }
inline float Mix(float a, float b, float t) { return a + (b - a) * t; }
inline TRgb Mix(TRgb a, TRgb b, float t) { return {Mix(a.R, b.R, t), Mix(a.G, b.G, t), Mix(a.B, b.B, t)}; }
inline TRgb Scale(TRgb c, float k) { return {c.R * k, c.G * k, c.B * k}; }
inline TRgb Add(TRgb a, TRgb b) { return {a.R + b.R, a.G + b.G, a.B + b.B}; }
inline float SmoothStep(float e0, float e1, float x) {
  const float t = Clamp01((x - e0) / (e1 - e0));
  return t * t * (3.0f - 2.0f * t);
}
// Checked element access for the painters' arrays (vectors, std::arrays, plain arrays):
// an index out of range ends the generator with uFatal's range error.
template <class Items, class Index>
decltype(auto) Item(Items& items, Index index) {
  return items[CheckIndex(Narrow<std::size_t>(index), std::size(items))];
}

// A colour from a hexadecimal 0xRRGGBB literal.
constexpr TRgb Hex(std::uint32_t rgb) {
  return {static_cast<float>((rgb >> 16) & 0xffu) / 255.0f, static_cast<float>((rgb >> 8) & 0xffu) / 255.0f,
          static_cast<float>(rgb & 0xffu) / 255.0f};
}
// A smooth colour ramp through the given stops, spaced evenly over t in [0, 1].
TRgb Ramp(const std::vector<TRgb>& stops, float t);

class TImage {
 public:
  TImage(int width, int height);

  int Width() const { return W; }
  int Height() const { return H; }

  // (x, y) with y counted from the top row.
  TRgba Get(int x, int y) const { return Pixels[Index(x, y)]; }  // Index checks both coordinates
  void Set(int x, int y, TRgba c) { Pixels[Index(x, y)] = c; }
  void SetOpaque(int x, int y, TRgb c) { Pixels[Index(x, y)] = {c.R, c.G, c.B, 1.0f}; }

  // Puts src over this picture (both straight alpha, same size).
  void Over(const TImage& src);
  // Fills every pixel with the colour.
  void Fill(TRgba c);

  // The 8-bit value of a channel, with a small fixed dither against banding in smooth
  // gradients; exact 0 and 1 stay exact so transparent and opaque regions stay clean.
  static std::uint8_t Quantize(float v, int x, int y, int channel);

 private:
  std::size_t Index(int x, int y) const {
    CheckIndex(Narrow<std::size_t>(x), Narrow<std::size_t>(W));
    CheckIndex(Narrow<std::size_t>(y), Narrow<std::size_t>(H));
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(W) + static_cast<std::size_t>(x);
  }

  int W;
  int H;
  std::vector<TRgba> Pixels;
};

// A small deterministic generator (SplitMix64), so every build paints the same pictures.
class TRandom {
 public:
  explicit TRandom(std::uint64_t seed) : State(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (State += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, 1).
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  // Uniform integer in [0, count).
  int Below(int count) { return static_cast<int>(Uniform() * count); }
  // Roughly normal (sum of four uniforms), mean 0, deviation about 1.
  double Gaussish() { return (Uniform() + Uniform() + Uniform() + Uniform() - 2.0) * 1.7320508; }

 private:
  std::uint64_t State;
};
