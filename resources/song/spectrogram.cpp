// kelvo-spectrogram: draws the spectrogram of a canonical 16-bit PCM WAV file into a PNG
// (Cairo), for reviewing the song by eye: a level strip per channel on top, then the
// spectrum of the channel sum on a logarithmic frequency axis with a time grid.
// Usage: kelvo-spectrogram SONG.wav OUT.png [FROM_SECONDS TO_SECONDS]
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <numbers>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1600;
constexpr int kSpectrumHeight = 560;
constexpr int kStripHeight = 60;  // level strip of each channel
constexpr int kMargin = 40;       // room for the frequency labels
constexpr int kFftSize = 4096;
constexpr double kLowHz = 30.0, kHighHz = 20000.0;
constexpr double kFloorDb = -105.0;  // black
constexpr double kTopDb = -5.0;      // pale yellow

struct TWave {
  int Channels = 0;
  int Rate = 0;
  std::vector<std::vector<float>> Samples;  // per channel
};

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return std::uint32_t{b.at(at)} | std::uint32_t{b.at(at + 1)} << 8 | std::uint32_t{b.at(at + 2)} << 16 |
         std::uint32_t{b.at(at + 3)} << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | b.at(at + 1) << 8);
}

TWave ReadWave(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  const std::vector<std::uint8_t> b{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (b.size() < 44 || std::string(b.begin(), b.begin() + 4) != "RIFF" ||
      std::string(b.begin() + 8, b.begin() + 16) != "WAVEfmt " || std::string(b.begin() + 36, b.begin() + 40) != "data") {
    throw std::runtime_error(path + " is not a canonical WAV file");
  }
  if (U16(b, 20) != 1 || U16(b, 34) != 16) throw std::runtime_error(path + " is not 16-bit PCM");
  TWave wave;
  wave.Channels = U16(b, 22);
  wave.Rate = static_cast<int>(U32(b, 24));
  const std::size_t bytes = U32(b, 40);
  if (wave.Channels < 1 || bytes > b.size() - 44) throw std::runtime_error(path + " is truncated");
  const std::size_t frames = bytes / (2u * static_cast<std::size_t>(wave.Channels));
  wave.Samples.assign(static_cast<std::size_t>(wave.Channels), std::vector<float>(frames));
  for (std::size_t f = 0; f < frames; ++f) {
    for (std::size_t c = 0; c < wave.Samples.size(); ++c) {
      const std::size_t at = 44 + 2 * (f * wave.Samples.size() + c);
      wave.Samples[c][f] = static_cast<float>(static_cast<std::int16_t>(U16(b, at)) / 32768.0);
    }
  }
  return wave;
}

// In-place iterative radix-2 FFT.
void Fft(std::vector<std::complex<double>>& data) {
  const std::size_t n = data.size();
  for (std::size_t i = 1, j = 0; i < n; ++i) {
    std::size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(data[i], data[j]);
  }
  for (std::size_t length = 2; length <= n; length <<= 1) {
    const double angle = -2.0 * std::numbers::pi / static_cast<double>(length);
    const std::complex<double> step(std::cos(angle), std::sin(angle));
    for (std::size_t start = 0; start < n; start += length) {
      std::complex<double> w(1.0, 0.0);
      for (std::size_t k = 0; k < length / 2; ++k) {
        const std::complex<double> even = data[start + k];
        const std::complex<double> odd = data[start + k + length / 2] * w;
        data[start + k] = even + odd;
        data[start + k + length / 2] = even - odd;
        w *= step;
      }
    }
  }
}

// A dark-to-bright palette (black, purple, orange, pale yellow) for 0..1.
void Palette(double v, double& r, double& g, double& b) {
  v = std::clamp(v, 0.0, 1.0);
  r = std::clamp(1.6 * v - 0.05, 0.0, 1.0);
  g = std::clamp(1.7 * v * v - 0.1, 0.0, 1.0);
  b = std::clamp(0.5 * std::sin(v * std::numbers::pi * 1.5) + (v > 0.85 ? (v - 0.85) * 4.0 : 0.0), 0.0, 1.0);
}

void Label(cairo_t* cr, double x, double y, const std::string& text) {
  cairo_move_to(cr, x, y);
  cairo_show_text(cr, text.c_str());
}

// Keeps only the frames of the stretch of time [fromSeconds, toSeconds).
void CutToRange(TWave& wave, double fromSeconds, double toSeconds) {
  const std::size_t count = wave.Samples.at(0).size();
  const std::size_t from = std::min(count, static_cast<std::size_t>(std::max(0.0, fromSeconds) * wave.Rate));
  const std::size_t to = std::min(count, static_cast<std::size_t>(std::max(0.0, toSeconds) * wave.Rate));
  if (to <= from + kWidth) throw std::runtime_error("the time range is too short");
  for (std::vector<float>& channel : wave.Samples) {
    channel = std::vector<float>(channel.begin() + static_cast<std::ptrdiff_t>(from), channel.begin() + static_cast<std::ptrdiff_t>(to));
  }
}

// The picture's pixels, written one by one (outside the picture nothing is written).
struct TPixels {
  unsigned char* Data;
  int Stride;
  int Height;
  void Put(int x, int y, double r, double g, double b) const {
    if (x < 0 || y < 0 || x >= kWidth + kMargin || y >= Height) return;
    auto* pixel = reinterpret_cast<std::uint32_t*>(Data + y * Stride) + x;
    *pixel = static_cast<std::uint32_t>(r * 255) << 16 | static_cast<std::uint32_t>(g * 255) << 8 |
             static_cast<std::uint32_t>(b * 255);
  }
};

// Level strips: the sample peak (light) and the RMS (dark) of each column, on a dB scale
// down to -60 dBFS; peaks above -1 dBFS show red.
void DrawLevelStrips(const TPixels& pixels, const TWave& wave, int strips) {
  const std::size_t frames = wave.Samples.at(0).size();
  for (int c = 0; c < strips; ++c) {
    const std::vector<float>& samples = wave.Samples[static_cast<std::size_t>(c)];
    for (int x = 0; x < kWidth; ++x) {
      const std::size_t from = frames * static_cast<std::size_t>(x) / kWidth;
      const std::size_t to = frames * static_cast<std::size_t>(x + 1) / kWidth;
      float peak = 0.0f;
      double power = 0.0;
      for (std::size_t f = from; f < to; ++f) {
        peak = std::max(peak, std::abs(samples[f]));
        power += static_cast<double>(samples[f]) * samples[f];
      }
      const double db = 20.0 * std::log10(std::max(peak, 1e-6f));
      const double rmsDb = 10.0 * std::log10(std::max(power / static_cast<double>(std::max<std::size_t>(1, to - from)), 1e-12));
      const int bar = static_cast<int>(std::clamp((db + 60.0) / 60.0, 0.0, 1.0) * (kStripHeight - 4));
      const int rmsBar = static_cast<int>(std::clamp((rmsDb + 60.0) / 60.0, 0.0, 1.0) * (kStripHeight - 4));
      for (int y = 0; y < bar; ++y) {
        const bool hot = db > -1.0;
        const bool inner = y < rmsBar;
        pixels.Put(kMargin + x, c * kStripHeight + kStripHeight - 2 - y, hot ? 1.0 : inner ? 0.1 : 0.3,
                   hot ? 0.2 : inner ? 0.35 : 0.7, hot ? 0.2 : inner ? 0.6 : 0.9);
      }
    }
  }
}

// Spectrum columns of the channel sum, Hann-windowed, from row top down.
void DrawSpectrum(const TPixels& pixels, const TWave& wave, int top) {
  const std::size_t frames = wave.Samples.at(0).size();
  std::vector<double> window(kFftSize);
  for (int i = 0; i < kFftSize; ++i) window[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (kFftSize - 1));
  std::vector<std::complex<double>> bins(kFftSize);
  const double norm = 4.0 / kFftSize;  // a full-scale sine reads about 0 dB
  for (int x = 0; x < kWidth; ++x) {
    const std::size_t centre = frames * static_cast<std::size_t>(x) / kWidth + frames / kWidth / 2;
    for (int i = 0; i < kFftSize; ++i) {
      const long long at = static_cast<long long>(centre) + i - kFftSize / 2;
      double value = 0.0;
      if (at >= 0 && at < static_cast<long long>(frames)) {
        for (int c = 0; c < wave.Channels; ++c) value += wave.Samples[static_cast<std::size_t>(c)][static_cast<std::size_t>(at)];
        value /= wave.Channels;
      }
      bins[static_cast<std::size_t>(i)] = value * window[static_cast<std::size_t>(i)];
    }
    Fft(bins);
    for (int y = 0; y < kSpectrumHeight; ++y) {
      const double hz = kLowHz * std::pow(kHighHz / kLowHz, 1.0 - static_cast<double>(y) / (kSpectrumHeight - 1));
      const double position = hz * kFftSize / wave.Rate;
      const std::size_t bin = std::min<std::size_t>(static_cast<std::size_t>(position), kFftSize / 2 - 1);
      const double magnitude = std::max(std::abs(bins[bin]), std::abs(bins[bin + 1])) * norm;
      const double db = 20.0 * std::log10(std::max(magnitude, 1e-9));
      double r, g, b;
      Palette((db - kFloorDb) / (kTopDb - kFloorDb), r, g, b);
      pixels.Put(kMargin + x, top + y, r, g, b);
    }
  }
}

// The grid and its labels: seconds along, frequencies up, the channels' strips.
void DrawGrid(cairo_t* cr, int height, int top, int strips, double startSeconds, double seconds) {
  cairo_set_font_size(cr, 11);
  cairo_set_line_width(cr, 1.0);
  const int tick = seconds > 40.0 ? 10 : seconds > 8.0 ? 1 : 0;
  const double step = tick > 0 ? tick : 0.25;
  for (double s = std::ceil(startSeconds / step) * step; s <= startSeconds + seconds; s += step) {
    const double x = kMargin + (s - startSeconds) / seconds * kWidth + 0.5;
    cairo_set_source_rgba(cr, 1, 1, 1, 0.35);
    cairo_move_to(cr, x, 0);
    cairo_line_to(cr, x, height - 14);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
    char text[32];
    std::snprintf(text, sizeof text, tick > 0 ? "%.0f s" : "%.2f", s);
    Label(cr, x + 2, height - 3, text);
  }
  for (const double hz : {50.0, 100.0, 200.0, 500.0, 1000.0, 2000.0, 5000.0, 10000.0}) {
    const double y = top + (1.0 - std::log(hz / kLowHz) / std::log(kHighHz / kLowHz)) * (kSpectrumHeight - 1);
    cairo_set_source_rgba(cr, 1, 1, 1, 0.25);
    cairo_move_to(cr, kMargin, y + 0.5);
    cairo_line_to(cr, kMargin + kWidth, y + 0.5);
    cairo_stroke(cr);
    cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
    Label(cr, 2, y + 4, hz >= 1000 ? std::to_string(static_cast<int>(hz / 1000)) + "k" : std::to_string(static_cast<int>(hz)));
  }
  for (int c = 0; c < strips; ++c) Label(cr, 2, c * kStripHeight + 30, c == 0 ? "L" : "R");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 5) {
    std::fprintf(stderr, "usage: kelvo-spectrogram SONG.wav OUT.png [FROM_SECONDS TO_SECONDS]\n");
    return 2;
  }
  try {
    TWave wave = ReadWave(argv[1]);
    if (argc == 5) CutToRange(wave, std::stod(argv[3]), std::stod(argv[4]));
    const double startSeconds = argc == 5 ? std::stod(argv[3]) : 0.0;
    const std::size_t frames = wave.Samples.at(0).size();
    const double seconds = static_cast<double>(frames) / wave.Rate;
    const int strips = std::min(wave.Channels, 2);
    const int height = kSpectrumHeight + strips * kStripHeight + 20;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth + kMargin, height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.08, 0.08, 0.1);
    cairo_paint(cr);
    cairo_surface_flush(surface);
    const TPixels pixels{cairo_image_surface_get_data(surface), cairo_image_surface_get_stride(surface), height};
    DrawLevelStrips(pixels, wave, strips);
    const int top = strips * kStripHeight + 10;
    DrawSpectrum(pixels, wave, top);
    cairo_surface_mark_dirty(surface);
    DrawGrid(cr, height, top, strips, startSeconds, seconds);

    const cairo_status_t status = cairo_surface_write_to_png(surface, argv[2]);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) throw std::runtime_error(std::string("cannot write PNG: ") + cairo_status_to_string(status));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kelvo-spectrogram: %s\n", error.what());
    return 1;
  }
  return 0;
}
