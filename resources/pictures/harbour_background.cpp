// TEX_BACKGROUND: the harbour at dusk, in the 1920 x 1080 design space of the harbour
// scene: a sky from indigo to sunset orange with a warm glow where the sun is drawn
// (upper right, kept free of shapes), hazy hills on the horizon with a small town whose
// windows are lit, a stone pier with a lighthouse on the left, and the sea below the
// horizon with the glitter of the sun and the town lights on it, growing dark and calm
// towards the bottom where the greeting text scrolls.
#include <array>
#include <cmath>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

namespace {

struct TLight {
  double X, Y;  // picture coordinates, y from the top
  double Size;
};

// Where the harbour scene draws the sun's lit disc (picture coordinates).
constexpr double kSunX = 1602.0, kSunY = 1080.0 - 805.0;
constexpr double kHorizon = 1080.0 - 468.0;  // the sea's far edge, as a picture row
constexpr double kLighthouseX = 250.0;

double HillHeight(double x, const TNoise& noise, int layer) {
  // Two ranges of hills fading out before the sun's side of the sky.
  const double fade = SmoothStep(1350.0f, 1050.0f, static_cast<float>(x));
  const double base = layer == 0 ? 70.0 : 34.0;
  return fade * (base + (layer == 0 ? 45.0 : 22.0) * noise.Fbm(x / (layer == 0 ? 260.0 : 140.0), layer * 5.3, 4));
}

// The town: houses along the nearer hills between the pier and the open sky, and their lit
// windows.
struct TTown {
  std::vector<std::array<double, 4>> Houses;  // left, width, height, roof
  std::vector<TLight> Lights;
};

TTown PlanTown(const TNoise& noise, TRandom& random) {
  TTown town;
  for (double x = 520; x < 1120;) {
    const double width = random.Uniform(16, 34);
    const double height = random.Uniform(16, 40) * SmoothStep(1130.0f, 900.0f, static_cast<float>(x)) + 10;
    town.Houses.push_back({x, width, height, random.Uniform() < 0.6 ? 1.0 : 0.0});
    const double ground = kHorizon - HillHeight(x + width * 0.5, noise, 1) + 4;
    for (int k = 0; k < 3; ++k)
      if (random.Uniform() < 0.7)
        town.Lights.push_back({x + random.Uniform(4, width - 4), ground - random.Uniform(5, height - 3), random.Uniform(1.6, 2.6)});
    x += width + random.Uniform(-4, 10);
  }
  return town;
}

const TRgb kSunGlow = Hex(0xffc27a), kLightColour = Hex(0xffd37a);
const std::vector<TRgb> kSky = {Hex(0x111640), Hex(0x2a2560), Hex(0x5b3a7e), Hex(0xb9567d), Hex(0xef8a5f),
                                Hex(0xf9b873)};

// The sky above the horizon: indigo to sunset orange, the sun's glow and a band of lit cloud.
TRgb SkyColour(double x, double y, const TNoise& noise) {
  const float t = static_cast<float>(std::pow(y / kHorizon, 1.35));
  TRgb c = Ramp(kSky, t);
  // The glow of the low sun and a faint band of cloud lit from below.
  const double r = std::hypot((x - kSunX) * 0.8, y - kSunY);
  c = Add(c, Scale(kSunGlow, static_cast<float>(0.32 * std::exp(-r / 260.0) + 0.12 * std::exp(-r / 700.0))));
  const double cloud = noise.Fbm(x / 420.0, y / 38.0, 4) * 0.5 + 0.5;
  const double band = std::exp(-std::pow((y - 470.0) / 60.0, 2.0)) + 0.6 * std::exp(-std::pow((y - 545.0) / 25.0, 2.0));
  const float lit = static_cast<float>(SmoothStep(0.55f, 0.8f, static_cast<float>(cloud)) * band * 0.35);
  c = Mix(c, Hex(0xff9e7a), lit);
  return {Clamp01(c.R), Clamp01(c.G), Clamp01(c.B)};
}

// The sea below the horizon: the sky's colours far away, deep blue near, the sun's glitter
// and the reflections of the town's lights and the lamp.
TRgb SeaColour(double x, double y, int h, const TNoise& noise, const std::vector<TLight>& lights, const TLight& lamp) {
  const TRgb seaDark = Hex(0x070b1e);
  // The sea: the sky's colours near the horizon, deep blue towards the viewer.
  const double d = (y - kHorizon) / (h - kHorizon);
  TRgb c = Mix(Hex(0xa4577a), Hex(0x3a2f66), static_cast<float>(std::min(1.0, d * 3.0)));
  c = Mix(c, seaDark, static_cast<float>(SmoothStep(0.2f, 0.85f, static_cast<float>(d))));
  // Ripples stretched along the horizon, finer far away.
  const double ripple = noise.Fbm(x / (18.0 + 160.0 * d), (y - kHorizon) / (2.0 + 14.0 * d), 3) * 0.5 + 0.5;
  const float calm = static_cast<float>(1.0 - SmoothStep(0.45f, 0.8f, static_cast<float>(d)));
  // The sun's glitter path, widening towards the viewer.
  const double path = std::exp(-std::pow((x - kSunX) / (70.0 + 380.0 * d), 2.0));
  const float glint = static_cast<float>(std::pow(SmoothStep(0.5f, 0.8f, static_cast<float>(ripple)), 2.0f));
  c = Add(c, Scale(kSunGlow, glint * static_cast<float>(path) * 0.9f * calm));
  c = Add(c, Scale(Hex(0x8a5a9a), static_cast<float>(ripple - 0.5) * 0.15f * calm));
  // Reflections of the town's lights and the lamp: wavering vertical streaks.
  for (const TLight& light : lights) {
    if (std::abs(x - light.X) > 8 || y - kHorizon > 120) continue;
    const double wobble = light.X + std::sin(y * 0.9 + light.X) * 2.0;
    const double s = std::exp(-std::pow((x - wobble) / 1.6, 2.0)) * std::exp(-(y - kHorizon) / 45.0);
    c = Add(c, Scale(kLightColour, static_cast<float>(s * glint * 1.5)));
  }
  const double lampStreak = std::exp(-std::pow((x - lamp.X - std::sin(y * 0.7) * 3.0) / 5.0, 2.0)) *
                            std::exp(-(y - kHorizon) / 160.0);
  c = Add(c, Scale(kLightColour, static_cast<float>(lampStreak * glint * 1.2)));
  return {Clamp01(c.R), Clamp01(c.G), Clamp01(c.B)};
}

// A few early stars high in the darkest sky, away from the sun.
void AddStars(TImage& image, TRandom& random) {
  for (int i = 0; i < 110; ++i) {
    const int x = random.Below(1250), y = random.Below(230);
    const float b = static_cast<float>(0.25 + 0.6 * std::pow(random.Uniform(), 2.0)) * (1.0f - static_cast<float>(y) / 260.0f);
    const TRgba c = image.Get(x, y);
    image.Set(x, y, {Clamp01(c.R + b), Clamp01(c.G + b), Clamp01(c.B + b), 1.0f});
  }
}

// Hills: a hazy far range and a darker near one on which the town stands.
void DrawHills(cairo_t* cr, const TNoise& noise) {
  for (int layer = 0; layer < 2; ++layer) {
    SetSource(cr, layer == 0 ? Hex(0x4a3468) : Hex(0x2a1f48));
    cairo_move_to(cr, 0, kHorizon + 1);
    for (int x = 0; x <= 1400; x += 4) cairo_line_to(cr, x, kHorizon + 1 - HillHeight(x, noise, layer));
    cairo_line_to(cr, 1400, kHorizon + 1);
    cairo_close_path(cr);
    cairo_fill(cr);
  }
}

// Houses, a church tower, and their lit windows.
void DrawTown(cairo_t* cr, const TNoise& noise, const TTown& town) {
  SetSource(cr, Hex(0x1d1636));
  for (const auto& house : town.Houses) {
    const double left = Item(house, 0), width = Item(house, 1), height = Item(house, 2);
    const double ground = kHorizon - HillHeight(left + width * 0.5, noise, 1) + 4;
    cairo_rectangle(cr, left, ground - height, width, height);
    if (Item(house, 3) > 0.5) {
      cairo_move_to(cr, left - 2, ground - height);
      cairo_line_to(cr, left + width * 0.5, ground - height - width * 0.45);
      cairo_line_to(cr, left + width + 2, ground - height);
      cairo_close_path(cr);
    }
  }
  cairo_fill(cr);
  const double churchX = 760, churchGround = kHorizon - HillHeight(churchX, noise, 1) + 4;
  cairo_rectangle(cr, churchX - 10, churchGround - 95, 20, 95);
  cairo_move_to(cr, churchX - 13, churchGround - 95);
  cairo_line_to(cr, churchX, churchGround - 140);
  cairo_line_to(cr, churchX + 13, churchGround - 95);
  cairo_close_path(cr);
  cairo_fill(cr);
  for (const TLight& light : town.Lights) {
    SetSource(cr, kLightColour);
    cairo_rectangle(cr, light.X - light.Size * 0.5, light.Y - light.Size * 0.6, light.Size, light.Size * 1.2);
    cairo_fill(cr);
  }
}

// The pier: a stone breakwater from the left edge, with its top lit by the sunset, and its
// bollards; returns the height of its top.
double DrawPier(cairo_t* cr) {
  const double pierTop = kHorizon - 26;
  SetSource(cr, Hex(0x1a1430));
  cairo_move_to(cr, 0, pierTop - 6);
  cairo_line_to(cr, 420, pierTop);
  cairo_line_to(cr, 440, kHorizon + 10);
  cairo_line_to(cr, 0, kHorizon + 16);
  cairo_close_path(cr);
  cairo_fill(cr);
  SetSource(cr, Hex(0xc0707a), 0.55);
  cairo_set_line_width(cr, 2.5);
  cairo_move_to(cr, 0, pierTop - 6);
  cairo_line_to(cr, 420, pierTop);
  cairo_stroke(cr);
  // Bollards along the pier.
  SetSource(cr, Hex(0x120e22));
  for (double x = 40; x < 420; x += 55) {
    cairo_rectangle(cr, x, pierTop - 12 + x * 0.0143, 6, 10);
  }
  cairo_fill(cr);
  return pierTop;
}

// The lighthouse: a tapering tower in fading red and white bands, lit from the right, with
// its lamp and the lamp's glow.
void DrawLighthouse(cairo_t* cr, double pierTop, const TLight& lamp) {
  const double base = pierTop - 1, top = lamp.Y + 26;
  const TTowerStyle tower{7, Hex(0xb9a3b5), Hex(0x8c2f45),
                          {{0, 0.05, 0.03, 0.12, 0.75}, {0.65, 0.05, 0.03, 0.12, 0.25}, {1, 1.0, 0.7, 0.5, 0.15}}};
  DrawStripedTower(cr, kLighthouseX, base, top, 30.0, 20.0, tower);
  SetSource(cr, Hex(0x140f24));
  cairo_rectangle(cr, kLighthouseX - 28, top - 6, 56, 8);
  cairo_fill(cr);
  SetSource(cr, Hex(0xfff0c0));
  cairo_rectangle(cr, kLighthouseX - 14, lamp.Y - 12, 28, 26);
  cairo_fill(cr);
  SetSource(cr, Hex(0x140f24));
  cairo_move_to(cr, kLighthouseX - 20, lamp.Y - 12);
  cairo_line_to(cr, kLighthouseX, lamp.Y - 36);
  cairo_line_to(cr, kLighthouseX + 20, lamp.Y - 12);
  cairo_close_path(cr);
  cairo_fill(cr);
  cairo_pattern_t* glow = cairo_pattern_create_radial(kLighthouseX, lamp.Y, 0, kLighthouseX, lamp.Y, 110);
  cairo_pattern_add_color_stop_rgba(glow, 0, 1.0, 0.95, 0.75, 0.7);
  cairo_pattern_add_color_stop_rgba(glow, 0.3, 1.0, 0.85, 0.55, 0.2);
  cairo_pattern_add_color_stop_rgba(glow, 1, 1.0, 0.85, 0.55, 0.0);
  cairo_set_source(cr, glow);
  cairo_paint(cr);
  cairo_pattern_destroy(glow);
}

}  // namespace

TImage PaintBackground(int w, int h) {
  TImage image(w, h);
  const TNoise noise(0xba5eu);
  TRandom random(0xd05cu);
  const TTown town = PlanTown(noise, random);
  const TLight lamp{kLighthouseX, 330.0, 9.0};
  ShadeOpaque(image, 1, [&](double x, double y) -> TRgb {
    if (y < kHorizon) return SkyColour(x, y, noise);
    return SeaColour(x, y, h, noise, town.Lights, lamp);
  });
  AddStars(image, random);

  TCairoCanvas canvas(w, h);
  canvas.FromImage(image);
  cairo_t* cr = canvas.Context();
  DrawHills(cr, noise);
  DrawTown(cr, noise, town);
  const double pierTop = DrawPier(cr);
  DrawLighthouse(cr, pierTop, lamp);
  return canvas.ToImage();
}
