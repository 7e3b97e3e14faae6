// Times one render of a scene file through the library, choosing the shape
// queries, the instruction set and the thread count that the program itself
// picks automatically. Used by run_benchmarks.py.
//
//   bench_render scene.txt width height [--structure list|flat|bvh|auto]
//                [--simd scalar|sse2|avx2] [--threads N] [--repeat N] [--count]
//                [--out image.bmp]
//
// Progress reports go to standard output as in the program; the result is one
// line on standard error:
//   seconds=<fastest run> cpu=<its processor seconds> build=<its build seconds>
//   render_cpu=<its processor seconds after the build> load=<seconds to load the scene>
//   shapes=<n> nearest=<queries> shadow=<queries> simd=<level> [bytes_per_shape=<bvh>]
// (the query counts only with --count, which renders once more on one thread
// through a counting wrapper around the same structure, untimed). With --count
// and a hierarchy, one more line per kind of query gives the box and shape
// tests per query:
//   tests <kind> queries=<n> boxes=<per query> shapes=<per query>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "accel/HelperThreads.h"
#include "accel/MakeIntersector.h"
#include "accel/bvh/BvhIntersector.h"
#include "accel/flat/FlatIntersector.h"
#include "app/AllocatorTuning.h"
#include "render/RayTracer.h"
#include "render/UsableCpus.h"
#include "scene/Scene.h"

namespace {

// Counts the queries the tracer makes, and for a hierarchy the box and shape
// tests per kind of query; single-threaded use only.
class CountingIntersector final : public Intersector {
public:
  explicit CountingIntersector(const Intersector &inner)
      : inner_(inner), bvh_(dynamic_cast<const BvhIntersector *>(&inner)) {}

  Hit nearest(const Ray &ray) const override {
    ++queries[0];
    return bvh_ != nullptr ? bvh_->nearest(ray, tests[0]) : inner_.nearest(ray);
  }
  bool blocked(const Ray &ray, ShadowQuery kind) const override {
    const int k = kind == ShadowQuery::TowardsDirection ? 1 : 2;
    ++queries[k];
    return bvh_ != nullptr ? bvh_->blocked(ray, kind, tests[k]) : inner_.blocked(ray, kind);
  }
  bool countsTests() const { return bvh_ != nullptr; }

  // Nearest-hit, direction-light shadow and point-light shadow queries.
  mutable long long queries[3] = {};
  mutable BvhIntersector::TestCounts tests[3];

private:
  const Intersector &inner_;
  const BvhIntersector *bvh_;
};

int usage() {
  std::fprintf(stderr, "usage: bench_render scene.txt width height "
                       "[--structure list|flat|bvh|auto] [--simd scalar|sse2|avx2] "
                       "[--threads N] [--repeat N] [--count] [--out image.bmp] "
                       "[--plan-pixels N]\n");
  return 2;
}

} // namespace

int main(int argc, char **argv) {
  tuneAllocator(); // as the renderer does
  helpers::start(std::size_t(std::max(usableCpuCount(), 1) - 1));
  if (argc < 4) {
    return usage();
  }
  const std::string scenePath = argv[1];
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  std::string structure = "flat";
  SimdLevel level = supportedSimdLevel();
  int threads = 0;
  int repeat = 1;
  bool count = false;
  std::string outPath;
  // The image size the structure is planned for (light buffers pay only for
  // enough pixels); another size lets a one-pixel run build what a full one does.
  std::size_t planPixels =
      std::size_t(width > 0 ? width : 0) * std::size_t(height > 0 ? height : 0);
  for (int i = 4; i < argc; ++i) {
    const std::string option = argv[i];
    const std::string value = i + 1 < argc ? argv[i + 1] : "";
    if (option == "--count") {
      count = true;
      continue;
    }
    ++i;
    if (option == "--structure" &&
        (value == "list" || value == "flat" || value == "bvh" || value == "auto")) {
      structure = value;
    } else if (option == "--simd" && value == "scalar") {
      level = SimdLevel::Scalar;
    } else if (option == "--simd" && value == "sse2") {
      level = SimdLevel::Sse2;
    } else if (option == "--simd" && value == "avx2") {
      level = SimdLevel::Avx2;
    } else if (option == "--threads") {
      threads = std::atoi(value.c_str());
    } else if (option == "--repeat") {
      repeat = std::atoi(value.c_str());
    } else if (option == "--out") {
      outPath = value;
    } else if (option == "--plan-pixels") {
      planPixels = std::size_t(std::atoll(value.c_str()));
    } else {
      return usage();
    }
  }
  if (width < 1 || height < 1 || repeat < 1) {
    return usage();
  }

  const auto loadBegin = std::chrono::steady_clock::now();
  Scene scene;
  if (scene.load(scenePath) != 1) {
    return 1;
  }
  const double loadSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - loadBegin).count();
  const std::size_t shapeCount = scene.shapeCount();

  double fastest = 0.0;
  double fastestCpu = 0.0;    // processor time of all threads during the fastest run
  double fastestBuild = 0.0;  // wall time of building its shape structure
  double fastestRender = 0.0; // processor time of its render alone
  std::unique_ptr<Image> image;
  std::unique_ptr<Intersector> shapes;
  for (int run = 0; run < repeat; ++run) {
    const std::clock_t cpuBegin = std::clock();
    const auto begin = std::chrono::steady_clock::now();
    // Building the shape structure is part of the render's time.
    shapes.reset();
    if (structure == "flat") {
      shapes = std::make_unique<FlatIntersector>(scene.shapes, level);
    } else {
      shapes = makeIntersector(scene,
                               structure == "list"  ? Structure::List
                               : structure == "bvh" ? Structure::Bvh
                                                    : Structure::Auto,
                               planPixels);
    }
    const double built =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    const std::clock_t renderBegin = std::clock();
    image = RayTracer().render(scene, width, height, *shapes, threads);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    if (!image) {
      std::fprintf(stderr, "render failed\n");
      return 1;
    }
    if (run == 0 || seconds < fastest) {
      fastest = seconds;
      fastestCpu = double(std::clock() - cpuBegin) / CLOCKS_PER_SEC;
      fastestBuild = built;
      fastestRender = double(std::clock() - renderBegin) / CLOCKS_PER_SEC;
    }
  }

  long long nearestQueries = -1;
  long long shadowQueries = -1;
  std::string testLines;
  if (count) {
    const CountingIntersector counter(*shapes);
    RayTracer().render(scene, width, height, counter, 1);
    nearestQueries = counter.queries[0];
    shadowQueries = counter.queries[1] + counter.queries[2];
    const char *kinds[3] = {"nearest", "shadow-direction", "shadow-point"};
    for (int k = 0; counter.countsTests() && k < 3; ++k) {
      const double n = double(std::max(counter.queries[k], 1LL));
      char line[160];
      std::snprintf(line, sizeof line, "tests %s queries=%lld boxes=%.2f shapes=%.2f\n", kinds[k],
                    counter.queries[k], double(counter.tests[k].boxes) / n,
                    double(counter.tests[k].shapes) / n);
      testLines += line;
    }
  }
  if (!outPath.empty() && image->writeBmp(outPath) != 1) {
    return 1;
  }
  std::fflush(stdout);
  // The level actually used: a processor without AVX2 runs SSE2 instead.
  const int levelUsed =
      structure == "flat" ? int(FlatIntersector(scene.shapes, level).level()) : -1;
  std::fprintf(stderr, "%s", testLines.c_str());
  std::fprintf(stderr,
               "seconds=%.6f cpu=%.6f build=%.6f render_cpu=%.6f load=%.6f shapes=%zu nearest=%lld "
               "shadow=%lld simd=%d",
               fastest, fastestCpu, fastestBuild, fastestRender, loadSeconds, shapeCount,
               nearestQueries, shadowQueries, levelUsed);
  if (structure == "bvh") {
    const BvhIntersector bvh(scene.shapes);
    std::fprintf(stderr, " bytes_per_shape=%.1f always_tested=%zu",
                 double(bvh.memoryBytes()) / double(shapeCount), bvh.alwaysTestedCount());
  }
  std::fprintf(stderr, "\n");
  return 0;
}
