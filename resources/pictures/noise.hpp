// Smooth gradient noise in two dimensions with a seeded permutation, and fractal sums
// of it: the raw material of the marbled, clouded and contoured pictures.
#pragma once

#include <array>
#include <cstdint>

#include "resources/pictures/image.hpp"

class TNoise {
 public:
  explicit TNoise(std::uint64_t seed);
  // Gradient noise, roughly in [-1, 1], with period 256 in both directions.
  double At(double x, double y) const;
  // A sum of octaves, each at twice the frequency and gain times the amplitude of the
  // last, normalised to roughly [-1, 1].
  double Fbm(double x, double y, int octaves, double gain = 0.5) const;
  // Like Fbm but of absolute values turned into sharp ridges, in [0, 1].
  double Ridged(double x, double y, int octaves) const;

 private:
  double Gradient(int hash, double x, double y) const;
  std::array<std::uint8_t, 512> Permutation{};
};
