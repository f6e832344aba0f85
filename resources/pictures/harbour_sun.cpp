// TEX_SUN: the setting sun, a disc with a soft glow that falls off in alpha. The picture
// is stretched into a 16:9 quad, so the disc is painted 16/9 times taller than wide and
// shows round on screen.
#include "resources/pictures/canvas.hpp"
#include "resources/pictures/catalogue.hpp"

TImage PaintSun(int w, int h) {
  TImage image(w, h);
  constexpr double kAspect = 16.0 / 9.0;  // the quad's width over its height
  constexpr double kDisc = 0.40;          // disc radius, in half quad heights
  const double edge = 1.5 / (h / 2.0);    // anti-aliased rim, about 1.5 pixels
  const TRgb core = Hex(0xfff6d8), rim = Hex(0xffb347), low = Hex(0xff7a3a);
  const TRgb glowInner = Hex(0xffb060), glowOuter = Hex(0xff6a40);
  ShadeAlpha(image, 1, [&](double x, double y) -> TRgba {
    // Screen-proportional coordinates: r = 1 touches the quad's top and bottom edges.
    const double u = (x / w * 2.0 - 1.0) * kAspect;
    const double v = y / h * 2.0 - 1.0;  // -1 at the top row, +1 at the bottom
    const double r = std::sqrt(u * u + v * v);
    // The disc: pale at the centre, deeper orange at the rim and towards the bottom,
    // as the low sun is reddened by the air.
    const float limb = static_cast<float>(std::pow(std::min(1.0, r / kDisc), 3.0));
    const float lower = static_cast<float>(SmoothStep(-0.2f, 1.0f, static_cast<float>(v / kDisc)));
    const TRgb disc = Mix(Mix(core, rim, limb * 0.8f), low, lower * 0.55f);
    // The glow: alpha falls smoothly to zero at r = 1.
    const double g = std::max(0.0, (1.0 - r) / (1.0 - kDisc));
    const float glowAlpha = static_cast<float>(0.55 * std::pow(std::min(1.0, g), 2.2));
    const TRgb glow = Mix(glowOuter, glowInner, static_cast<float>(std::min(1.0, g)));
    const float inDisc = SmoothStep(static_cast<float>(kDisc + edge), static_cast<float>(kDisc - edge),
                                    static_cast<float>(r));
    const float a = inDisc + glowAlpha * (1.0f - inDisc);
    if (a <= 0.0f) return {};
    // Straight alpha: the colour of the mix, not darkened by coverage.
    const float kd = inDisc / a;
    const TRgb c = Mix(glow, disc, kd);
    return {c.R, c.G, c.B, a};
  });
  return image;
}
