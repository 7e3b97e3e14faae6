// Every way of rendering must give the reference bytes: the image and the
// progress output of walking the shape list on one thread. The traced pixel
// (explainPixel, which runs the renderer's own tracing on that pixel's ray)
// must give each pixel's bytes too.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <numeric>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "accel/ListIntersector.h"
#include "accel/MakeIntersector.h"
#include "accel/bvh/BvhIntersector.h"
#include "app/CommandLine.h"
#include "captured_stdout.h"
#include "diagnose/PixelTrace.h"
#include "random_scene.h"
#include "render/RayTracer.h"
#include "render/RowRunner.h"
#include "scratch_directory.h"

namespace fs = std::filesystem;

namespace {

struct Rendering {
  std::string progress;
  std::unique_ptr<Image> image;
  std::vector<std::uint8_t> bmp;
};

struct Configuration {
  std::string name;
  std::unique_ptr<Intersector> shapes; // null: render(scene, w, h)
  int threads;
  bool quiet = false; // without progress reports
  int bandRows = RayTracer::kBandRows;
};

Rendering render(const Scene &scene, int width, int height, const Configuration &c) {
  Rendering r;
  r.progress = capturedStdout([&] {
    r.image = c.shapes ? RayTracer().render(scene, width, height, *c.shapes, c.threads, !c.quiet,
                                            c.bandRows)
                       : RayTracer().render(scene, width, height);
  });
  if (r.image) {
    r.bmp = r.image->encodeBmp();
  }
  return r;
}

// Each level on one thread, the widest level (which renders use) on several:
// the intersector and the row scheduling are independent of each other. The
// reference walks row after row; these go tile by tile in bands of rows.
std::vector<Configuration> fastConfigurations(const Scene &scene) {
  std::vector<Configuration> all;
  for (const auto &[level, name] : flatLevels()) {
    for (const int threads : {1, 2, 3, 8}) {
      if (threads == 1 || level == supportedSimdLevel()) {
        // Three threads take bands of three rows.
        all.push_back({name + " on " + std::to_string(threads) + " threads",
                       std::make_unique<FlatIntersector>(scene.shapes, level), threads, false,
                       threads == 3 ? 3 : RayTracer::kBandRows});
      }
    }
    if (level != supportedSimdLevel()) { // the bvh below uses the widest
      all.push_back({"bvh, leaves " + name,
                     std::make_unique<BvhIntersector>(scene.shapes, BvhOptions{.leafLevel = level}),
                     1});
    }
  }
  // Told the scene's lights and eye, with light buffers whatever the image size.
  for (const int threads : {1, 2}) {
    all.push_back({"bvh with light buffers on " + std::to_string(threads) + " threads",
                   makeIntersector(scene, Structure::Bvh, std::size_t(1) << 40), threads});
  }
  all.push_back({"bvh built on two threads, one box at a time",
                 std::make_unique<BvhIntersector>(
                     scene.shapes, BvhOptions{.wideNodes = false, .parallelBuildFrom = 2}),
                 1});
  all.push_back(
      {"bvh on 2 threads, quiet", makeIntersector(scene.shapes, Structure::Bvh), 2, true});
  all.push_back({"auto", nullptr, 0});
  return all;
}

// Stops at the first difference to keep the report short; false then.
bool matchesReference(const Scene &scene, int width, int height, const std::string &name) {
  const Rendering reference = render(
      scene, width, height, {"list", std::make_unique<ListIntersector>(scene.shapes), 1, false, 1});
  if (reference.bmp.empty()) {
    ADD_FAILURE() << name << ": the reference render failed";
    return false;
  }
  for (const Configuration &c : fastConfigurations(scene)) {
    const Rendering r = render(scene, width, height, c);
    EXPECT_EQ(r.progress, c.quiet ? "" : reference.progress) << name << " with " << c.name;
    EXPECT_TRUE(r.bmp == reference.bmp) << name << " with " << c.name << ": image bytes differ";
    if (testing::Test::HasFailure()) {
      return false;
    }
  }
  // Each trace builds its own structure: about 64 pixels of each scene.
  for (int i = 0; i < width * height; i += width * height / 64 + 1) {
    const PixelTrace trace = explainPixel(scene, width, height, i % width, i / width);
    const std::uint8_t *p = reference.image->pixels.get() + std::size_t(i) * 3;
    if (!std::equal(p, p + 3, trace.bytes)) {
      ADD_FAILURE() << name << ": pixel " << i << " traced as\n" << describePixelTrace(trace);
      return false;
    }
  }
  return true;
}

bool loads(Scene &scene, const fs::path &file) {
  int status = 0;
  return capturedStdout([&] { status = scene.load(file.string()); }).empty() && status == 1;
}

TEST(EveryRenderPath, MatchesTheReferenceOnEveryConformanceSceneThatRenders) {
  int rendered = 0;
  for (const fs::path &dir : std::set<fs::path>(fs::directory_iterator(CONFORMANCE_DIR), {})) {
    const std::vector<std::string> args = readLines(dir / "args");
    int width = 0;
    int height = 0;
    Scene scene;
    if (args.size() != 4 || !checkImageSize(args[2], args[3], width, height).empty() ||
        !loads(scene, dir / args[0])) {
      continue;
    }
    ++rendered;
    if (!matchesReference(scene, width, height, dir.filename().string())) {
      return;
    }
  }
  EXPECT_GT(rendered, 250); // the cases were found and most of them render
}

TEST(EveryRenderPath, MatchesTheReferenceOnEveryBundledScene) {
  constexpr int kHalve = WORK_DIVISOR > 1 ? 2 : 1; // a quarter of the pixels under sanitizers
  int rendered = 0;
  for (const auto &entry : fs::directory_iterator(SCENES_DIR)) {
    if (entry.path().extension() == ".txt") {
      Scene scene;
      ASSERT_TRUE(loads(scene, entry.path())) << entry.path();
      ++rendered;
      if (!matchesReference(scene, 64 / kHalve, 48 / kHalve, entry.path().filename().string())) {
        return;
      }
    }
  }
  EXPECT_GE(rendered, 7);
}

// The last seed adds three thousand shapes with distinct materials.
TEST(EveryRenderPath, MatchesTheReferenceOnRandomScenes) {
  for (std::uint32_t seed = 1; seed <= 151; ++seed) {
    RandomScene random(seed);
    Scene scene;
    random.fill(scene);
    int width = random.chance(0.1f) ? 1 : random.whole(2, 24);
    int height = random.chance(0.1f) ? 1 : random.whole(2, 18);
    if (seed == 151) {
      random.scatter(scene, {0, 0, 0}, 12, 0.05f, 2, 3000, false);
      width = 40;
      height = 30;
    }
    if (!matchesReference(scene, width, height, "seed " + std::to_string(seed))) {
      return;
    }
  }
}

TEST(RowRunner, FormsRowStartsByAdditionInRowOrderAndReportsRowsInOrderOnceDone) {
  constexpr int kHeight = 120;
  const Vec3 start(-0.7f, -0.3f, 1.0f);
  const Vec3 step(0.0117f, 0.0051f, -0.0003f);
  // The row starts one loop of additions gives; start + row * step differs.
  std::vector<Vec3> expected(kHeight);
  Vec3 current = start;
  bool multiplicationDiffers = false;
  for (Vec3 &rowStart : expected) {
    rowStart = current;
    const float row = float(&rowStart - expected.data());
    multiplicationDiffers |= add(start, scale(step, row)).x != current.x;
    current = add(current, step);
  }
  ASSERT_TRUE(multiplicationDiffers);
  for (const int bandRows : {1, 5, kMaxBandRows}) {
    for (const int threads : {1, 3, 8}) {
      const std::string where =
          "on " + std::to_string(threads) + " threads, bands of " + std::to_string(bandRows);
      std::vector<std::atomic<int>> done(kHeight);
      std::vector<Vec3> starts(kHeight);
      std::vector<int> reported;
      std::atomic<int> longestBand{0};
      runBands(
          kHeight, threads, bandRows, start, step,
          [&](int firstRow, int rows, const Vec3 *rowStarts) {
            // Bands of uneven length, so that workers overtake each other.
            std::this_thread::sleep_for(std::chrono::microseconds((firstRow * 37) % 500));
            int longest = longestBand.load();
            while (longest < rows && !longestBand.compare_exchange_weak(longest, rows)) {
            }
            for (int row = firstRow; row < firstRow + rows; ++row) {
              starts[std::size_t(row)] = rowStarts[row - firstRow];
              ++done[std::size_t(row)];
            }
          },
          [&](int row) {
            ASSERT_TRUE(std::all_of(done.begin(), done.begin() + row + 1,
                                    [](const std::atomic<int> &d) { return d.load() == 1; }))
                << "row " << row << " reported early " << where;
            reported.push_back(row);
          });
      std::vector<int> everyRow(kHeight);
      std::iota(everyRow.begin(), everyRow.end(), 0);
      EXPECT_EQ(reported, everyRow) << where;
      EXPECT_TRUE(std::all_of(done.begin(), done.end(),
                              [](const std::atomic<int> &d) { return d.load() == 1; }))
          << "a row rendered twice or never " << where;
      // Full bands while plenty of rows remain (a few threads), never longer.
      EXPECT_TRUE(threads == 8 ? longestBand <= bandRows : longestBand == bandRows) << where;
      for (int row = 0; row < kHeight; ++row) {
        const Vec3 &got = starts[std::size_t(row)];
        const Vec3 &want = expected[std::size_t(row)];
        ASSERT_TRUE(got.x == want.x && got.y == want.y && got.z == want.z)
            << "row " << row << " " << where;
      }
    }
  }
}

} // namespace
