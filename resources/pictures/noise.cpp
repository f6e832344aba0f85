// Gradient noise (see noise.hpp).
#include "resources/pictures/noise.hpp"

#include <cmath>

TNoise::TNoise(std::uint64_t seed) {
  std::array<std::uint8_t, 256> p{};
  for (std::size_t i = 0; i < 256; ++i) Item(p, i) = static_cast<std::uint8_t>(i);
  TRandom random(seed);
  for (int i = 255; i > 0; --i) {
    std::swap(Item(p, i), Item(p, random.Below(i + 1)));
  }
  for (std::size_t i = 0; i < 512; ++i) Item(Permutation, i) = Item(p, i & 255u);
}

double TNoise::Gradient(int hash, double x, double y) const {
  // Eight gradient directions, the diagonals scaled to unit length.
  switch (hash & 7) {
    case 0: return x;
    case 1: return -x;
    case 2: return y;
    case 3: return -y;
    case 4: return (x + y) * 0.70710678;
    case 5: return (-x + y) * 0.70710678;
    case 6: return (x - y) * 0.70710678;
    default: return (-x - y) * 0.70710678;
  }
}

double TNoise::At(double x, double y) const {
  const double fx = std::floor(x), fy = std::floor(y);
  const int xi = static_cast<int>(static_cast<long long>(fx) & 255);
  const int yi = static_cast<int>(static_cast<long long>(fy) & 255);
  const double dx = x - fx, dy = y - fy;
  const double u = dx * dx * dx * (dx * (dx * 6 - 15) + 10);
  const double v = dy * dy * dy * (dy * (dy * 6 - 15) + 10);
  auto perm = [&](int i) { return static_cast<int>(Item(Permutation, i)); };
  const int a = perm(xi) + yi, b = perm(xi + 1) + yi;
  const double n00 = Gradient(perm(a), dx, dy);
  const double n10 = Gradient(perm(b), dx - 1, dy);
  const double n01 = Gradient(perm(a + 1), dx, dy - 1);
  const double n11 = Gradient(perm(b + 1), dx - 1, dy - 1);
  const double nx0 = n00 + (n10 - n00) * u;
  const double nx1 = n01 + (n11 - n01) * u;
  return (nx0 + (nx1 - nx0) * v) * 1.41421356;
}

double TNoise::Fbm(double x, double y, int octaves, double gain) const {
  double sum = 0, amplitude = 1, norm = 0;
  for (int i = 0; i < octaves; ++i) {
    sum += amplitude * At(x, y);
    norm += amplitude;
    amplitude *= gain;
    // Each octave is rotated a little so the lattice does not line up.
    const double nx = 1.6 * x - 1.2 * y + 17.3, ny = 1.2 * x + 1.6 * y - 9.1;
    x = nx;
    y = ny;
  }
  return sum / norm;
}

double TNoise::Ridged(double x, double y, int octaves) const {
  double sum = 0, amplitude = 1, norm = 0;
  for (int i = 0; i < octaves; ++i) {
    const double r = 1.0 - std::abs(At(x, y));
    sum += amplitude * r * r;
    norm += amplitude;
    amplitude *= 0.5;
    const double nx = 1.6 * x - 1.2 * y + 31.7, ny = 1.2 * x + 1.6 * y + 5.3;
    x = nx;
    y = ny;
  }
  return sum / norm;
}
