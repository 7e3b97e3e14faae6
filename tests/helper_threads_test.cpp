// The kept helper threads that the hierarchy's build and the render share.

#include <atomic>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "accel/bvh/TwoThreads.h"
#include "geometry/Vec3.h"
#include "render/RowRunner.h"

namespace {

TEST(HelperThreads, RunBothHalvesAndHandBackTheirFailures) {
  for (int round = 0; round < 50; ++round) {
    std::atomic<int> ran{0};
    std::thread::id firstOn;
    // A half that asks for two threads again gets none (the helper is busy)
    // and runs both parts itself.
    inTwoThreads(
        [&] {
          firstOn = std::this_thread::get_id();
          inTwoThreads([&] { ++ran; }, [&] { ++ran; });
        },
        [&] { ++ran; });
    ASSERT_EQ(ran, 3);
    EXPECT_NE(firstOn, std::this_thread::get_id()) << "the first half ran on the caller";

    EXPECT_THROW(inTwoThreads([] { throw std::runtime_error("first"); }, [] {}),
                 std::runtime_error);
    EXPECT_THROW(inTwoThreads([] {}, [] { throw std::runtime_error("second"); }),
                 std::runtime_error);
  }
}

TEST(HelperThreads, RowsStopWithTheFailureOfAnyWorker) {
  for (const int failingRow : {0, 7, 39}) {
    std::atomic<int> rendered{0};
    EXPECT_THROW(runRows(
                     40, 3, Vec3(0.0f, 0.0f, -1.0f), Vec3(0.0f, 0.01f, 0.0f),
                     [&](int row, const Vec3 &) {
                       if (row == failingRow) {
                         throw std::runtime_error("row");
                       }
                       ++rendered;
                     },
                     [](int) {}),
                 std::runtime_error);
    // The helpers are free again: the next render uses them.
    std::atomic<int> all{0};
    runRows(
        40, 3, Vec3(0.0f, 0.0f, -1.0f), Vec3(0.0f, 0.01f, 0.0f), [&](int, const Vec3 &) { ++all; },
        [](int) {});
    EXPECT_EQ(all, 40);
  }
}

} // namespace
