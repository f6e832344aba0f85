// uPCM on the web, the ring buffer between the player's task and Web Audio: the player puts
// interleaved S16 frames in, the page's side of Web Audio (what posts them to the worklet, or
// the fallback node's callback) takes them out in the same order, and what is in it is the
// part of the delay that this side knows. Counts run on (modulo 2^32);
// positions are counts modulo the capacity, a power of two, so that they stay in step when
// the counts wrap. Single-threaded: both sides run on the page's main thread.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

template <std::uint32_t Capacity>
class TSampleRing {
  static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "the capacity must be a power of two");

 public:
  explicit TSampleRing(std::uint32_t channels) : Channels(channels), Samples(std::size_t{Capacity} * channels) {}

  std::uint32_t Filled() const { return Written - Read; }
  std::uint32_t Free() const { return Capacity - Filled(); }

  // Copies up to count frames in; returns how many it took.
  std::uint32_t Put(const std::int16_t* frames, std::uint32_t count) {
    count = std::min(count, Free());
    for (std::uint32_t done = 0; done < count;) {
      const std::uint32_t at = (Written + done) % Capacity;
      const std::uint32_t run = std::min(count - done, Capacity - at);
      std::memcpy(&Samples[std::size_t{at} * Channels], frames + std::size_t{done} * Channels,
                  std::size_t{run} * Channels * sizeof(std::int16_t));
      done += run;
    }
    Written += count;
    return count;
  }

  // The fields Web Audio's side reads and advances (through the module's memory).
  const std::int16_t* Data() const { return Samples.data(); }
  std::uint32_t* ReadCounter() { return &Read; }
  const std::uint32_t* WriteCounter() const { return &Written; }
  std::uint32_t CapacityFrames() const { return Capacity; }

 private:
  const std::uint32_t Channels;
  std::vector<std::int16_t> Samples;
  std::uint32_t Read = 0;
  std::uint32_t Written = 0;
};
