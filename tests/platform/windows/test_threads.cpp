// The Windows threads and clocks: a worker gets the stack it asked for (the player's 4 MiB,
// more than the program's default), a worker never released never runs, the player's short
// sleeps keep their length (Sleep alone rounds 5 ms up to the system's 15.6 ms tick), and
// the three clocks agree to the millisecond.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include "platform/clock.hpp"
#include "platform/thread.hpp"

namespace {

class TDeepWorker final : public TThread {
 public:
  explicit TDeepWorker(std::size_t stack, std::size_t use) : TThread(stack), Use(use) {}
  ~TDeepWorker() override { Finish(); }
  void Go() { Resume(); }
  void Wait() { Finish(); }
  std::atomic<bool> Ran{false};

 protected:
  void Execute() override {
    // Touches use bytes of its own stack, from the far end.
    volatile unsigned char* block = static_cast<unsigned char*>(__builtin_alloca(Use));
    std::memset(const_cast<unsigned char*>(block), 1, Use);
    Ran.store(block[0] == 1 && block[Use - 1] == 1);
  }

 private:
  std::size_t Use;
};

TEST(WindowsThread, HasTheStackItAskedForAndRunsOnlyOnceReleased) {
  TDeepWorker deep(4 * 1024 * 1024, 3 * 1024 * 1024);
  deep.Go();
  deep.Wait();
  EXPECT_TRUE(deep.Ran.load());

  TDeepWorker idle(64 * 1024, 1024);
  idle.Wait();  // never released: ends without running
  EXPECT_FALSE(idle.Ran.load());
  SetCurrentThreadPriority(TThreadPriority::Background);
  SetCurrentThreadPriority(TThreadPriority::Normal);
}

TEST(WindowsClock, ShortSleepsKeepTheirLengthAndTheClocksAgree) {
  const std::int64_t start = MonotonicMicroseconds();
  const std::uint64_t startTick = TickMilliseconds();
  const double startWall = WallMilliseconds();
  for (int i = 0; i < 20; ++i) SleepMicroseconds(5000);
  const std::int64_t took = MonotonicMicroseconds() - start;
  EXPECT_GE(took, 20 * 5000);
  EXPECT_LT(took, 20 * 10000) << "a 5 ms sleep took " << took / 20 << " us";
  const std::uint64_t ticks = TickMilliseconds() - startTick;
  EXPECT_NEAR(static_cast<double>(ticks), static_cast<double>(took) / 1000.0, 2.0);
  // The wall clock moves by the millisecond, as the frame loop needs, not by the tick.
  EXPECT_NEAR(WallMilliseconds() - startWall, static_cast<double>(took) / 1000.0, 2.0);
  EXPECT_GT(WallMilliseconds(), 1.7e12);  // milliseconds since 1970, not since boot
}

}  // namespace
