// uSchedule: the opening's instants on a 60 Hz display (see schedule.hpp).
#include "film/schedule.hpp"

#include <algorithm>
#include <limits>
#include <memory>

#include "demo/entry.hpp"
#include "base/fatal.hpp"
#include "demo/kelvo.hpp"
#include "scenes/voidrenderer.hpp"

namespace {

// Far more passes than the opening's four seconds need: 2 readings of 10 us each.
constexpr std::int64_t kMaxPasses = 10'000'000;

// Draws nothing; remembers whether the last frame drew it, so that its first appearance
// can be placed on the retrace of that frame's swap.
class TAppearanceProbe : public IRenderer {
 public:
  explicit TAppearanceProbe(std::int32_t scene) : Scene(scene) {}
  void Render() override { DrawnInFrame = true; }
  void Update(double) override {}
  std::int32_t GetScene() override { return Scene; }

  std::int32_t Scene;
  bool DrawnInFrame = false;
  std::int64_t FirstShownNs = -1;
  std::int32_t FirstFrame = 0;
};

}  // namespace

std::int64_t WallMsAt(std::int64_t v) {
  const vclock::TReading reading = vclock::ReadingAt(vclock::kRealtimeEpochSeconds, v);
  return reading.Seconds * 1000 + reading.Nanos / vclock::kNanosPerMilli;
}

double TVirtualWallClock::NowMs() { return static_cast<double>(WallMsAt(Display.Read())); }

TOpeningSchedule ComputeOpeningSchedule() {
  const std::int32_t savedScene = SceneIndex;
  SceneIndex = 0;

  // The scene table of the opening, as the program entry assembles it: each picture, then
  // its pause; the harbour's first renderer stands for the harbour.
  IRendererDynArray renderers;
  std::vector<std::shared_ptr<TAppearanceProbe>> probes;
  for (std::int32_t scene = 0; scene <= kPictureCount; ++scene) {
    probes.push_back(std::make_shared<TAppearanceProbe>(scene));
    AppendRenderer(renderers, probes.back());
    if (scene < kPictureCount) AppendRenderer(renderers, std::make_shared<TVoidRenderer>(scene, kPictureSeconds));
  }

  vclock::TVirtualClock display;
  TVirtualWallClock clock(display);
  TOpeningSchedule schedule;
  schedule.SmallestMarginNs = std::numeric_limits<std::int64_t>::max();
  // The frame loop reads the clock twice before mapping the window and none between the
  // mapping and the start of playback.
  TFramePacer pacer(clock);
  schedule.PlaybackNs = display.Now();

  std::int32_t frame = 0;
  auto drawFrame = [&](double frameTime) {
    ++frame;
    DrawRenderers(renderers, frameTime);
    schedule.SmallestMarginNs = std::min(schedule.SmallestMarginNs, vclock::RetraceTime(vclock::NextRetrace(display.Now())) - display.Now());
    const std::int64_t shown = vclock::RetraceTime(display.Swap());
    for (const auto& probe : probes) {
      if (probe->DrawnInFrame && probe->FirstShownNs < 0) {
        probe->FirstShownNs = shown;
        probe->FirstFrame = frame;
      }
      probe->DrawnInFrame = false;
    }
  };
  for (std::int64_t pass = 0; probes.back()->FirstShownNs < 0; ++pass) {
    Assert(pass < kMaxPasses, "the harbour never shows on the virtual display", "uSchedule", __LINE__);
    pacer.Step(drawFrame);
  }

  for (std::int32_t n = 0; n < kPictureCount; ++n) {
    const TAppearanceProbe& probe = *probes.at(static_cast<std::size_t>(n));
    Assert(probe.FirstShownNs >= 0, "a picture never shows on the virtual display", "uSchedule", __LINE__);
    schedule.PictureNs.push_back(probe.FirstShownNs);
    schedule.PictureFrame.push_back(probe.FirstFrame);
  }
  schedule.HarbourNs = probes.back()->FirstShownNs;
  schedule.HarbourFrame = probes.back()->FirstFrame;
  SceneIndex = savedScene;
  return schedule;
}
