// The checked containers and conversions every unit relies on: indexing of TDynArray,
// CheckIndex and Narrow at each boundary end the demo with "Runtime error 201" and status
// 201; Appended leaves the array it grew from untouched; Zeroed memory is zero; a count
// whose byte size does not fit the address space is an allocation failure, never a small
// array. The hooks before the end each run once, in order, on every end. And the forked-child support these tests stand on: a child that cannot be started
// fails the test.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>

#include <cstdint>
#include <limits>
#include <numeric>
#include <string>

#include "base/dynarray.hpp"
#include "tests/support/fatal_expect.hpp"

namespace {

constexpr std::size_t kMaxSize = std::numeric_limits<std::size_t>::max();

// The body must end the process with exactly the range error's one line.
#define EXPECT_RANGE_ERROR(body)                                           \
  do {                                                                     \
    TChildOutcome outcome_ = RunInChild([&] { body; });                    \
    EXPECT_TRUE(outcome_.Exited) << #body << " returned: " << outcome_.Output; \
    EXPECT_EQ(outcome_.Status, kExitRangeError) << #body;                  \
    EXPECT_EQ(outcome_.Output, "Runtime error 201\n") << #body;            \
  } while (0)

// Reads an element so the compiler keeps the access.
template <class T>
void Touch(const T& value) {
  volatile T sink = value;
  (void)sink;
}

// A count the compiler cannot see through (it would warn about the huge allocation).
std::size_t Opaque(std::size_t count) {
  volatile std::size_t hidden = count;
  return hidden;
}

TUInt32DynArray Counting(std::size_t count) {
  TUInt32DynArray array = TUInt32DynArray::Uninitialized(count);
  std::iota(array.Data(), array.Data() + count, 1u);
  return array;
}

}  // namespace

TEST(DynArray, EveryIndexPastTheLastIsARangeError) {
  TUInt32DynArray three = Counting(3);
  EXPECT_EQ(three[0], 1u);
  EXPECT_EQ(three[2], 3u);
  EXPECT_RANGE_ERROR(Touch(three[3]));
  EXPECT_RANGE_ERROR(Touch(three[kMaxSize]));
  // An index that wrapped from a negative value.
  EXPECT_RANGE_ERROR(Touch(three[static_cast<std::size_t>(-1)]));
  // Writing is checked like reading.
  EXPECT_RANGE_ERROR(three[3] = 7);

  TUInt8DynArray empty;
  EXPECT_TRUE(empty.Empty());
  EXPECT_RANGE_ERROR(Touch(empty[0]));
  EXPECT_RANGE_ERROR(Touch(TUInt8DynArray::Zeroed(0)[0]));
  EXPECT_RANGE_ERROR(Touch(TDynArray<std::string>::Make(2)[2]));
}

TEST(DynArray, AppendedGrowsACopyAndLeavesTheOldArrayAndItsHoldersUntouched) {
  TUInt32DynArray old = Counting(3);
  TUInt32DynArray holder = old;  // another holder of the same elements
  TUInt32DynArray grown = old.Appended(99);

  ASSERT_EQ(grown.Length(), 4u);
  EXPECT_EQ(grown[0], 1u);
  EXPECT_EQ(grown[2], 3u);
  EXPECT_EQ(grown[3], 99u);
  EXPECT_FALSE(grown.SharesWith(old));

  grown[0] = 42;  // the new array owns its elements
  ASSERT_EQ(old.Length(), 3u);
  EXPECT_EQ(old[0], 1u);
  EXPECT_EQ(old[1], 2u);
  EXPECT_EQ(old[2], 3u);
  EXPECT_TRUE(holder.SharesWith(old));
  EXPECT_EQ(holder.Length(), 3u);
  EXPECT_RANGE_ERROR(Touch(old[3]));

  // Growing an empty array, and elements that are not plain data.
  TDynArray<std::string> names = TDynArray<std::string>().Appended("first").Appended("second");
  ASSERT_EQ(names.Length(), 2u);
  EXPECT_EQ(names[0], "first");
  EXPECT_EQ(names[1], "second");
}

TEST(DynArray, ZeroedMemoryIsZeroAndCopiesShareIt) {
  // Large enough that the allocator hands out fresh pages, small enough to stay from its
  // pools: both must come cleared.
  for (std::size_t count : {1u, 7u, 4096u, 3u << 20}) {
    TUInt32DynArray zeroed = TUInt32DynArray::Zeroed(count);
    ASSERT_EQ(zeroed.Length(), count);
    std::size_t nonZero = 0;
    for (std::uint32_t value : zeroed.Span()) nonZero += value != 0;
    EXPECT_EQ(nonZero, 0u) << count;
    TUInt32DynArray copy = zeroed;
    copy[count - 1] = 5;
    EXPECT_EQ(zeroed[count - 1], 5u) << "a copy shares the elements";
  }
  EXPECT_TRUE(TUInt32DynArray::Zeroed(0).Empty());
}

TEST(DynArray, ACountWhoseByteSizeDoesNotFitIsOutOfMemory) {
  // count * 4 wraps to 0 (or to a few bytes) if computed unchecked.
  for (std::size_t shown : {kMaxSize / 4 + 1, kMaxSize / 4 + 2, kMaxSize}) {
    const std::size_t count = Opaque(shown);
    EXPECT_FATAL(TUInt32DynArray::Uninitialized(count), kExitAssertion, "Out of memory");
    EXPECT_FATAL(TUInt32DynArray::Zeroed(count), kExitAssertion, "Out of memory");
    EXPECT_FATAL(TDynArray<std::string>::Make(count), kExitAssertion, "Out of memory");
  }
  // The variant for other threads gives an empty array instead of ending the process.
  for (std::size_t shown : {kMaxSize / 4 + 1, kMaxSize}) {
    EXPECT_TRUE(TUInt32DynArray::TryUninitialized(Opaque(shown)).Empty());
  }
  const auto small = TUInt32DynArray::TryUninitialized(Opaque(3));
  EXPECT_EQ(small.Length(), 3u);
  EXPECT_TRUE(TUInt32DynArray::TryUninitialized(0).Empty());
#ifndef __SANITIZE_ADDRESS__
  // Representable, but more than any machine has: the allocator's refusal. (AddressSanitizer's
  // allocator ends the process with its own report instead of refusing.)
  EXPECT_FATAL(TUInt32DynArray::Uninitialized(Opaque(kMaxSize / 4)), kExitAssertion, "Out of memory");
#endif
}

TEST(CheckIndex, AcceptsEachIndexBelowTheCountAndNothingElse) {
  EXPECT_EQ(CheckIndex(0, 1), 0u);
  EXPECT_EQ(CheckIndex(4, 5), 4u);
  EXPECT_EQ(CheckIndex(kMaxSize - 1, kMaxSize), kMaxSize - 1);
  EXPECT_RANGE_ERROR(CheckIndex(0, 0));
  EXPECT_RANGE_ERROR(CheckIndex(5, 5));
  EXPECT_RANGE_ERROR(CheckIndex(6, 5));
  EXPECT_RANGE_ERROR(CheckIndex(kMaxSize, kMaxSize));
}

TEST(Narrow, KeepsEveryValueTheTargetHoldsAndStopsOneBeyondEachEnd) {
  // At compile time too: the sizes of the renderers' arrays are narrowed in constants.
  static_assert(Narrow<std::int8_t>(127) == 127);
  static_assert(Narrow<std::uint16_t>(std::int64_t{65535}) == 65535);

  EXPECT_EQ(Narrow<std::int8_t>(-128), -128);
  EXPECT_EQ(Narrow<std::int8_t>(127), 127);
  EXPECT_RANGE_ERROR(Narrow<std::int8_t>(128));
  EXPECT_RANGE_ERROR(Narrow<std::int8_t>(-129));

  EXPECT_EQ(Narrow<std::uint8_t>(255), 255);
  EXPECT_EQ(Narrow<std::uint8_t>(0), 0);
  EXPECT_RANGE_ERROR(Narrow<std::uint8_t>(256));
  EXPECT_RANGE_ERROR(Narrow<std::uint8_t>(-1));

  EXPECT_EQ(Narrow<std::int32_t>(std::uint64_t{2147483647}), 2147483647);
  EXPECT_RANGE_ERROR(Narrow<std::int32_t>(std::uint64_t{2147483648u}));
  EXPECT_EQ(Narrow<std::int32_t>(std::int64_t{-2147483647 - 1}), -2147483647 - 1);
  EXPECT_RANGE_ERROR(Narrow<std::int32_t>(std::int64_t{-2147483647 - 1} - 1));

  EXPECT_EQ(Narrow<std::uint32_t>(std::int64_t{4294967295}), 4294967295u);
  EXPECT_RANGE_ERROR(Narrow<std::uint32_t>(std::int64_t{4294967296}));

  // Signed to unsigned of the same width: only the sign bit is out of range.
  EXPECT_EQ(Narrow<std::size_t>(std::numeric_limits<std::int64_t>::max()),
            static_cast<std::size_t>(std::numeric_limits<std::int64_t>::max()));
  EXPECT_RANGE_ERROR(Narrow<std::size_t>(-1));
  EXPECT_RANGE_ERROR(Narrow<std::size_t>(std::numeric_limits<std::int64_t>::min()));
  EXPECT_RANGE_ERROR(Narrow<std::int64_t>(std::numeric_limits<std::uint64_t>::max()));
  EXPECT_RANGE_ERROR(Narrow<std::int64_t>(std::uint64_t{1} << 63));
}

// Two systems hand back what they hold before the end (the sound, the window): both run, in
// the order set, each once however often it was set, and a fifth hook is refused.
TEST(BeforeTerminate, EveryHookRunsOnceInOrderOnEachEnd) {
  static void (*const first)() = [] { WriteLine("first"); };
  static void (*const second)() = [] { WriteLine("second"); };
  EXPECT_FATAL(
      {
        SetBeforeTerminate(first);
        SetBeforeTerminate(second);
        SetBeforeTerminate(first);
        Terminate(7);
      },
      7, "second");
  TChildOutcome ended = RunInChild([] {
    SetBeforeTerminate(first);
    SetBeforeTerminate(second);
    FatalLine("the end", 9);
  });
  EXPECT_EQ(ended.Output, "the end\nfirst\nsecond\n");
  EXPECT_EQ(ended.Status, 9);
  TChildOutcome many = RunInChild([] {
    SetBeforeTerminate(first);
    SetBeforeTerminate(second);
    SetBeforeTerminate([] {});
    SetBeforeTerminate([] { WriteLine("fourth"); });
    SetBeforeTerminate([] {});
  });
  EXPECT_EQ(many.Status, kExitAssertion);
  EXPECT_EQ(many.LastLine(), "fourth") << many.Output;
  EXPECT_NE(many.Output.find("too many hooks before the end"), std::string::npos) << many.Output;
}

TEST(ChildSupport, AChildThatCannotBeStartedFailsTheTestWithTheReason) {
  bool ran = false;
  const auto failingFork = [] {
    errno = EAGAIN;
    return pid_t{-1};
  };
  TChildOutcome outcome;
  EXPECT_NONFATAL_FAILURE(outcome = RunInChildForkedBy(failingFork, [&] { ran = true; }),
                          "cannot start the child process: Resource temporarily unavailable");
  EXPECT_FALSE(ran);
  EXPECT_FALSE(outcome.Exited);
  EXPECT_FALSE(outcome.Returned);
  EXPECT_EQ(outcome.Signal, 0);
}
