// The web's ring buffer between the player and Web Audio: frames come out in the order they
// went in across the wrap of the buffer and of the counters, a full ring takes nothing, and
// what it holds (the known part of the delay) is exact. The consumer here reads it as the
// page's audio callback does: frame (read % capacity), then read advanced.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/web/ring.hpp"

namespace {

template <std::uint32_t Capacity>
std::vector<std::int16_t> Take(TSampleRing<Capacity>& ring, std::uint32_t frames, std::uint32_t channels) {
  std::vector<std::int16_t> out;
  std::uint32_t& read = *ring.ReadCounter();
  const std::uint32_t take = std::min(frames, *ring.WriteCounter() - read);
  for (std::uint32_t i = 0; i < take; ++i)
    for (std::uint32_t c = 0; c < channels; ++c)
      out.push_back(ring.Data()[((read + i) % ring.CapacityFrames()) * channels + c]);
  read += take;
  return out;
}

}  // namespace

TEST(WebRing, FramesComeOutInOrderAcrossBothWrapsAndAFullRingTakesNothing) {
  constexpr std::uint32_t kChannels = 2;
  TSampleRing<4> ring(kChannels);
  // The counters start just below their wrap, as after a long run.
  *ring.ReadCounter() = 0xfffffffeu;
  const_cast<std::uint32_t&>(*ring.WriteCounter()) = 0xfffffffeu;
  std::int16_t next = 0;
  std::int16_t expected = 0;
  for (std::uint32_t round = 0; round < 7; ++round) {
    std::vector<std::int16_t> in;
    for (int i = 0; i < 8 * static_cast<int>(kChannels); ++i) in.push_back(static_cast<std::int16_t>(next + i));
    const std::uint32_t free = ring.Free();
    const std::uint32_t put = ring.Put(in.data(), 8);
    EXPECT_EQ(put, free);
    next = static_cast<std::int16_t>(next + put * kChannels);
    EXPECT_EQ(ring.Filled(), 4u);
    EXPECT_EQ(ring.Put(in.data(), 1), 0u);
    for (std::int16_t sample : Take(ring, 2 + round % 3, kChannels)) EXPECT_EQ(sample, expected++);
    EXPECT_EQ(ring.Filled() + ring.Free(), 4u);
  }
}
