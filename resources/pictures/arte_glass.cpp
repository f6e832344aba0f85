// TEX_ARTE4: a Voronoi stained-glass window: cells around a rose-window centre, each a
// pane of jewel-coloured glass lit from behind, joined by dark lead came with an
// anti-aliased edge computed from the distance to the cell border.
#include <algorithm>
#include <cmath>
#include <limits>

#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"
#include "resources/pictures/noise.hpp"

namespace {

struct TSeed {
  double X, Y;
  TRgb Colour;
};

constexpr double kEdgeWidth = 3.2;  // half the width of the lead came, in pixels

double SquaredDistance(const TSeed& seed, double x, double y) {
  return (x - seed.X) * (x - seed.X) + (y - seed.Y) * (y - seed.Y);
}

// The panes' seeds: the rose's centre, then concentric rings of panes, further apart
// towards the edge; sorted by x, so that each pixel looks only at the seeds that lie
// within reach along x.
std::vector<TSeed> PlaceSeeds(double cx, double cy, TRandom& random) {
  const std::vector<TRgb> panes = {Hex(0x0b3aa8), Hex(0x1565d8), Hex(0x0d8a5a), Hex(0xb01230),
                                   Hex(0xe59a12), Hex(0x5a1e9c), Hex(0x0a2d7a), Hex(0x18a0b8)};
  std::vector<TSeed> seeds;
  auto colour = [&](int ring) {
    // Rings alternate between warm and cool families so the rose reads at a glance.
    const int base = (ring % 2 == 0) ? random.Below(3) : 3 + random.Below(5);
    return panes[CheckIndex(static_cast<std::size_t>(base), panes.size())];
  };
  seeds.push_back({cx, cy, Hex(0xffd24a)});
  for (int ring = 1; ring <= 13; ++ring) {
    const double radius = 38.0 * ring + 4.0 * ring * ring;
    const int count = 6 * ring + 2;
    const double phase = random.Uniform(0, 6.2831853);
    const TRgb ringColour = colour(ring);
    for (int k = 0; k < count; ++k) {
      const double a = phase + 6.2831853 * k / count + random.Uniform(-0.08, 0.08);
      const double r = radius * random.Uniform(0.96, 1.04);
      TRgb c = ringColour;
      if (random.Uniform() < 0.25) c = colour(ring + 1);
      seeds.push_back({cx + std::cos(a) * r, cy + std::sin(a) * r, c});
    }
  }
  std::stable_sort(seeds.begin(), seeds.end(), [](const TSeed& a, const TSeed& b) { return a.X < b.X; });
  return seeds;
}

// The nearest seed to (x, y) and its squared distance: walks outwards along x from first
// (the first seed at or right of x) until x alone is further than the best.
std::size_t NearestSeed(const std::vector<TSeed>& seeds, std::size_t first, double x, double y, double& best) {
  std::size_t nearest = 0;
  best = std::numeric_limits<double>::max();
  for (std::size_t i = first; i < seeds.size(); ++i) {
    const double dx = Item(seeds, i).X - x;
    if (dx * dx >= best) break;
    if (SquaredDistance(Item(seeds, i), x, y) < best) {
      best = SquaredDistance(Item(seeds, i), x, y);
      nearest = i;
    }
  }
  for (std::size_t i = first; i-- > 0;) {
    const double dx = x - Item(seeds, i).X;
    if (dx * dx >= best) break;
    if (SquaredDistance(Item(seeds, i), x, y) < best) {
      best = SquaredDistance(Item(seeds, i), x, y);
      nearest = i;
    }
  }
  return nearest;
}

// Distance to the cell border: the nearest bisector with any other seed. Only borders
// closer than the came's width matter, and a seed more than twice that width further away
// than the nearest one cannot have such a border.
double BorderDistance(const std::vector<TSeed>& seeds, std::size_t first, std::size_t nearest, double best, double x,
                      double y) {
  const TSeed& s = Item(seeds, nearest);
  const double reach = std::sqrt(best) + 4.0 * kEdgeWidth;
  double border = 4.0 * kEdgeWidth;
  auto bisector = [&](std::size_t i) {
    if (i == nearest || SquaredDistance(Item(seeds, i), x, y) > reach * reach) return;
    const TSeed& other = Item(seeds, i);
    const double ex = other.X - s.X, ey = other.Y - s.Y;
    const double len = std::sqrt(ex * ex + ey * ey);
    const double mx = (other.X + s.X) * 0.5, my = (other.Y + s.Y) * 0.5;
    border = std::min(border, ((mx - x) * ex + (my - y) * ey) / len);
  };
  for (std::size_t i = first; i < seeds.size() && Item(seeds, i).X - x <= reach; ++i) bisector(i);
  for (std::size_t i = first; i-- > 0 && x - Item(seeds, i).X <= reach;) bisector(i);
  return border;
}

}  // namespace

TImage PaintArte4(int w, int h) {
  TImage image(w, h);
  TRandom random(0x61a55u);
  const TNoise noise(0x91u);
  const double cx = w * 0.5, cy = h * 0.5;
  const std::vector<TSeed> seeds = PlaceSeeds(cx, cy, random);
  ShadeOpaque(image, 1, [&](double x, double y) -> TRgb {
    const auto split = std::lower_bound(seeds.begin(), seeds.end(), x,
                                        [](const TSeed& seed, double value) { return seed.X < value; });
    const std::size_t first = static_cast<std::size_t>(split - seeds.begin());
    double best = 0;
    const std::size_t nearest = NearestSeed(seeds, first, x, y, best);
    const TSeed& s = Item(seeds, nearest);
    const double border = BorderDistance(seeds, first, nearest, best, x, y);
    // Glass: brighter in the middle of the pane, with a streaky texture and a backlight
    // strongest at the rose's centre.
    const double centre = std::sqrt(best);
    const float glow = static_cast<float>(std::exp(-centre / 70.0));
    const float streak = static_cast<float>(noise.Fbm(x / 40.0, y / 160.0, 3) * 0.5 + 0.5);
    const double fromMiddle = std::hypot(x - cx, y - cy) / std::hypot(cx, cy);
    const float backlight = static_cast<float>(1.15 - 0.75 * fromMiddle);
    TRgb glass = Scale(s.Colour, (0.55f + 0.45f * glow + 0.35f * streak) * backlight);
    glass = Mix(glass, Hex(0xfff4d0), glow * 0.25f * backlight);
    // The came: dark lead with a faint highlight along its middle.
    const float lead = SmoothStep(static_cast<float>(kEdgeWidth + 0.7), static_cast<float>(kEdgeWidth - 0.7),
                                  static_cast<float>(border));
    const float ridge = SmoothStep(1.2f, 0.0f, static_cast<float>(std::abs(border - kEdgeWidth * 0.45)));
    const TRgb came = Mix(Hex(0x08080c), Hex(0x4a4650), ridge * 0.6f);
    return Mix(glass, came, lead);
  });
  return image;
}
