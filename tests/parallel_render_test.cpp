// Every faster way of rendering must give the reference bytes: the image and
// the progress output of walking the shape list on one thread.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/CommandLine.h"
#include "random_scene.h"
#include "render/FlatIntersector.h"
#include "render/RayTracer.h"
#include "render/RowRunner.h"

namespace fs = std::filesystem;

namespace {

struct Rendering {
  std::string progress;
  std::vector<std::uint8_t> bmp;
};

Rendering renderWith(const Scene &scene, int width, int height, const Intersector &shapes,
                     int threads) {
  testing::internal::CaptureStdout();
  const std::unique_ptr<Image> image = RayTracer().render(scene, width, height, shapes, threads);
  Rendering result{testing::internal::GetCapturedStdout(), {}};
  if (image) {
    result.bmp = image->encodeBmp();
  }
  return result;
}

const char *levelName(SimdLevel level) {
  switch (level) {
  case SimdLevel::Scalar:
    return "scalar";
  case SimdLevel::Sse2:
    return "SSE2";
  case SimdLevel::Avx2:
    return "AVX2";
  }
  return "?";
}

// Each supported level, 1, 2, 3 and 8 threads, and the default render, all
// against the reference. Stops at the first difference to keep the report
// short; returns false then.
bool matchesReference(const Scene &scene, int width, int height, const std::string &name) {
  const Rendering reference = renderWith(scene, width, height, ListIntersector(scene), 1);
  if (reference.bmp.empty()) {
    ADD_FAILURE() << name << ": the reference render failed";
    return false;
  }
  const auto same = [&](const Rendering &r, const std::string &how) {
    EXPECT_EQ(r.progress, reference.progress) << name << " " << how;
    EXPECT_TRUE(r.bmp == reference.bmp) << name << " " << how << ": image bytes differ";
    return r.progress == reference.progress && r.bmp == reference.bmp;
  };

  // Threads and levels are independent: the full set of thread counts runs
  // on the highest level, which is the one renders use.
  const std::vector<int> allThreadCounts{1, 2, 3, 8};
  for (SimdLevel level : {SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2}) {
    if (level > supportedSimdLevel()) {
      continue;
    }
    const FlatIntersector flat(scene, level);
    const std::vector<int> threadCounts = level == supportedSimdLevel() ? allThreadCounts
                                          : level == SimdLevel::Scalar  ? std::vector<int>{1}
                                                                        : std::vector<int>{1, 3};
    for (const int threads : threadCounts) {
      const std::string how =
          std::string(levelName(level)) + " on " + std::to_string(threads) + " threads";
      if (!same(renderWith(scene, width, height, flat, threads), how)) {
        return false;
      }
    }
  }
  testing::internal::CaptureStdout();
  const std::unique_ptr<Image> image = RayTracer().render(scene, width, height);
  const Rendering byDefault{testing::internal::GetCapturedStdout(),
                            image ? image->encodeBmp() : std::vector<std::uint8_t>()};
  return same(byDefault, "with the default options");
}

std::vector<std::string> readLines(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(ParallelRendering, ConformanceScenesMatchTheReferenceOnEveryLevelAndThreadCount) {
  std::vector<fs::path> cases;
  for (const auto &entry : fs::directory_iterator(CONFORMANCE_DIR)) {
    cases.push_back(entry.path());
  }
  std::sort(cases.begin(), cases.end());

  int rendered = 0;
  for (const fs::path &dir : cases) {
    const std::vector<std::string> args = readLines(dir / "args");
    int width = 0;
    int height = 0;
    if (args.size() != 4 || !checkImageSize(args[2], args[3], width, height).empty()) {
      continue;
    }
    Scene scene;
    testing::internal::CaptureStdout();
    const int loaded = scene.load((dir / args[0]).string());
    testing::internal::GetCapturedStdout();
    if (loaded != 1) {
      continue;
    }
    ++rendered;
    if (!matchesReference(scene, width, height, dir.filename().string())) {
      return;
    }
  }
  EXPECT_GT(rendered, 250); // the cases were found and most of them render
}

TEST(ParallelRendering, RandomScenesMatchTheReferenceOnEveryLevelAndThreadCount) {
  for (std::uint32_t seed = 1; seed <= 150; ++seed) {
    RandomScene random(seed);
    Scene scene;
    random.fill(scene);
    const int width = random.chance(0.1f) ? 1 : random.whole(2, 24);
    const int height = random.chance(0.1f) ? 1 : random.whole(2, 18);
    if (!matchesReference(scene, width, height, "seed " + std::to_string(seed))) {
      return;
    }
  }
}

TEST(ParallelRendering, MoreThreadsThanRowsStillReportEveryRowOnceInOrder) {
  Scene scene;
  scene.addSphere(Material(), {0, 0, -5}, 1);
  const Rendering r = renderWith(scene, 2, 3, FlatIntersector(scene), 8);
  EXPECT_EQ(r.progress, "33.3333%     \r66.6667%     \r100%     \r");
}

TEST(RowRunner, ReportsEachRowInOrderOnlyOnceItAndAllRowsBeforeItAreDone) {
  constexpr int kHeight = 120;
  const Vec3 start(0.1f, -0.3f, -1.0f);
  const Vec3 step(0.0f, 0.0173f, 0.001f);
  std::vector<Vec3> expectedStarts{start};
  for (int row = 1; row < kHeight; ++row) {
    expectedStarts.push_back(add(expectedStarts.back(), step));
  }
  for (const int threads : {1, 3, 8}) {
    std::vector<std::atomic<bool>> done(kHeight);
    std::vector<Vec3> starts(kHeight);
    std::vector<int> reported;
    runRows(
        kHeight, threads, start, step,
        [&](int row, const Vec3 &rowStart) {
          // Rows of uneven length, so that workers overtake each other.
          std::this_thread::sleep_for(std::chrono::microseconds((row * 37) % 500));
          starts[std::size_t(row)] = rowStart;
          done[std::size_t(row)] = true;
        },
        [&](int row) {
          for (int earlier = 0; earlier <= row; ++earlier) {
            ASSERT_TRUE(done[std::size_t(earlier)]) << "row " << row << " reported early";
          }
          reported.push_back(row);
        });
    ASSERT_EQ(reported.size(), std::size_t(kHeight));
    for (int row = 0; row < kHeight; ++row) {
      EXPECT_EQ(reported[std::size_t(row)], row);
      EXPECT_TRUE(std::memcmp(&starts[std::size_t(row)], &expectedStarts[std::size_t(row)],
                              sizeof(Vec3)) == 0)
          << "row " << row << " on " << threads << " threads";
    }
  }
}

#if defined(__x86_64__)
TEST(ParallelRendering, ProcessorWithAvx2RunsTheAvx2Kernels) {
  if (!__builtin_cpu_supports("avx2")) {
    GTEST_SKIP() << "this processor has no AVX2; only the SSE2 and scalar paths were compared";
  }
  Scene scene;
  EXPECT_EQ(FlatIntersector(scene).level(), SimdLevel::Avx2);
  EXPECT_EQ(FlatIntersector(scene, SimdLevel::Sse2).level(), SimdLevel::Sse2);
}
#endif

} // namespace
