// The kept helper threads that the hierarchy's build and the render share.

#include <atomic>
#include <csignal>
#include <fstream>
#include <numeric>
#include <stdexcept>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <pthread.h>

#include "accel/HelperThreads.h"
#include "accel/bvh/TwoThreads.h"
#include "app/AllocatorTuning.h"
#include "app/HeapWarmUp.h"
#include "geometry/Vec3.h"
#include "render/RowRunner.h"
#include "scratch_directory.h"

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
  // Termination signals go to the thread that may hold them off while it
  // makes a temporary file, never to a helper.
  sigset_t mask;
  inTwoThreads([&] { pthread_sigmask(SIG_BLOCK, nullptr, &mask); }, [] {});
  EXPECT_TRUE(sigismember(&mask, SIGINT) && sigismember(&mask, SIGTERM) &&
              sigismember(&mask, SIGHUP));
}

TEST(HelperThreads, RowsStopWithTheFailureOfAnyWorker) {
  const std::thread::id caller = std::this_thread::get_id();
  for (const int bandRows : {1, 5}) {
    for (const bool onHelper : {true, false}) {
      std::atomic<int> failed{-1}; // the failing band's first row
      std::vector<int> reported;
      EXPECT_THROW(runBands(
                       40, 3, bandRows, Vec3(0.0f, 0.0f, -1.0f), Vec3(0.0f, 0.01f, 0.0f),
                       [&](int row, int, const Vec3 *) {
                         const bool here = (std::this_thread::get_id() == caller) != onHelper;
                         if (!here) {
                           // The others wait until the failing side has failed.
                           while (failed < 0) {
                             std::this_thread::yield();
                           }
                         }
                         int none = -1;
                         if (here && failed.compare_exchange_strong(none, row)) {
                           throw std::runtime_error("row");
                         }
                       },
                       [&](int row) { reported.push_back(row); }),
                   std::runtime_error)
          << (onHelper ? "failing on a helper" : "failing on the caller") << ", bands of "
          << bandRows;
      // Rows before the failed band only, each once and in order.
      for (std::size_t i = 0; i < reported.size(); ++i) {
        EXPECT_EQ(reported[i], int(i));
      }
      EXPECT_LE(int(reported.size()), failed.load());
    }
    // The helpers are free again: the next render uses them.
    std::atomic<int> all{0};
    runRows(
        40, 3, Vec3(0.0f, 0.0f, -1.0f), Vec3(0.0f, 0.01f, 0.0f), [&](int, const Vec3 &) { ++all; },
        [](int) {});
    EXPECT_EQ(all, 40);
  }
}

// The warming fills page tables beside the loader's use of the same heap:
// what the loader writes meanwhile stays, and helper 0 is free afterwards.
TEST(HeapWarmUp, KeepsEveryByteAndFreesTheHelper) {
  tuneAllocator();
  helpers::start(1);
  const ScratchDirectory dir;
  const std::string scene = (dir.path() / "scene.txt").string();
  std::ofstream(scene) << std::string(std::size_t(2) << 20, '#');
  for (int round = 0; round < 3; ++round) {
    std::vector<std::uint32_t> loaded;
    {
      HeapWarmUp warmUp(scene.c_str(), true);
#if defined(__GLIBC__) && defined(__linux__) && !defined(RAYTRACER_SANITIZED)
      EXPECT_TRUE(warmUp.warming());
#endif
      loaded.resize(std::size_t(3) << 20);
      std::iota(loaded.begin(), loaded.end(), 7u);
    }
    for (std::size_t i = 0; i < loaded.size(); ++i) {
      ASSERT_EQ(loaded[i], std::uint32_t(i + 7)) << "at " << i;
    }
    std::atomic<bool> ran{false};
    ASSERT_TRUE(helpers::post(0, [&ran] { ran = true; }));
    helpers::finish(0);
    EXPECT_TRUE(ran);
  }
  // Nothing to guess from (no file, a directory, a small file), or no
  // processor to spare.
  const std::string small = (dir.path() / "small.txt").string();
  std::ofstream(small) << "camera\n";
  for (const std::string &path : {(dir.path() / "none.txt").string(), dir.path().string(), small}) {
    EXPECT_FALSE(HeapWarmUp(path.c_str(), true).warming()) << path;
  }
  EXPECT_FALSE(HeapWarmUp(scene.c_str(), false).warming());
}

} // namespace
