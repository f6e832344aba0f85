// The painting picture: storage, compositing and quantisation (see image.hpp).
#include "resources/pictures/image.hpp"

TRgb Ramp(const std::vector<TRgb>& stops, float t) {
  Assert(stops.size() >= 2, "a ramp needs two stops", "pictures", __LINE__);
  const float span = static_cast<float>(stops.size() - 1);
  const float p = Clamp01(t) * span;
  const std::size_t i = std::min(static_cast<std::size_t>(p), stops.size() - 2);
  const float f = p - static_cast<float>(i);
  return Mix(stops[CheckIndex(i, stops.size())], stops[CheckIndex(i + 1, stops.size())], f * f * (3.0f - 2.0f * f));
}

TImage::TImage(int width, int height) : W(width), H(height) {
  Assert(width > 0 && height > 0, "a picture needs a positive size", "pictures", __LINE__);
  Pixels.assign(Narrow<std::size_t>(width) * Narrow<std::size_t>(height), TRgba{});
}

void TImage::Over(const TImage& src) {
  Assert(src.W == W && src.H == H, "pictures to composite differ in size", "pictures", __LINE__);
  for (std::size_t i = 0; i < Pixels.size(); ++i) {
    const TRgba s = Item(src.Pixels, i);
    TRgba& d = Item(Pixels, i);
    const float a = s.A + d.A * (1.0f - s.A);
    if (a <= 0.0f) {
      d = {};
      continue;
    }
    const float kd = d.A * (1.0f - s.A);
    d = {(s.R * s.A + d.R * kd) / a, (s.G * s.A + d.G * kd) / a, (s.B * s.A + d.B * kd) / a, a};
  }
}

void TImage::Fill(TRgba c) { std::fill(Pixels.begin(), Pixels.end(), c); }

std::uint8_t TImage::Quantize(float v, int x, int y, int channel) {
  if (!(v > 0.0f)) return 0;
  if (v >= 1.0f) return 255;
  // A hashed threshold in [-0.5, 0.5): noise-like dither without visible pattern.
  std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8da6b343u ^ static_cast<std::uint32_t>(y) * 0xd8163841u ^
                    static_cast<std::uint32_t>(channel) * 0xcb1ab31fu;
  h ^= h >> 15;
  h *= 0x2c1b3c6du;
  h ^= h >> 12;
  const float d = static_cast<float>(h & 0xffffu) / 65536.0f - 0.5f;
  const float q = std::floor(v * 255.0f + 0.5f + d);
  return static_cast<std::uint8_t>(q < 0.0f ? 0.0f : (q > 255.0f ? 255.0f : q));
}
