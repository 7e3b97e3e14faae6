// Times loading, building the shape structure and rendering a scene file with
// a chosen structure. Progress output goes to /dev/null by the caller;
// timings go to standard error.
//
//   scene_bench scene.txt width height reference|hierarchy [out.bmp]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "render/BvhIntersector.h"
#include "render/RayTracer.h"

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Processor time of this process, less sensitive than wall time to other
// jobs on a shared machine.
double cpuSeconds() {
  return double(std::clock()) / CLOCKS_PER_SEC;
}

} // namespace

int main(int argc, char **argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: scene_bench scene.txt width height reference|hierarchy [out.bmp]\n");
    return 1;
  }
  const int width = std::atoi(argv[2]);
  const int height = std::atoi(argv[3]);
  RenderOptions options;
  options.threads = 1;
  options.shapes = std::strcmp(argv[4], "reference") == 0 ? RenderOptions::Shapes::Reference
                                                          : RenderOptions::Shapes::Hierarchy;

  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = cpuSeconds();
  Scene scene;
  if (scene.load(argv[1]) != 1) {
    return 1;
  }
  const double loaded = secondsSince(start);
  const double cpuLoaded = cpuSeconds() - cpuStart;
  std::size_t shapes = 0;
  for (const Shape *s = scene.shapes; s != nullptr; s = s->next) {
    ++shapes;
  }

  // The render below builds its own structure; this one is for the report
  // and is not counted in the totals.
  if (options.shapes == RenderOptions::Shapes::Hierarchy) {
    const double buildStart = cpuSeconds();
    const BvhIntersector hierarchy(scene);
    std::fprintf(stderr, "build %.3f s cpu, %zu shapes, %.1f bytes per shape, %zu always tested\n",
                 cpuSeconds() - buildStart, shapes,
                 double(hierarchy.memoryBytes()) / double(shapes), hierarchy.alwaysTestedCount());
  }

  const auto renderStart = std::chrono::steady_clock::now();
  const double cpuRenderStart = cpuSeconds();
  const auto image = RayTracer().render(scene, width, height, options);
  const double rendered = secondsSince(renderStart);
  const double cpuRendered = cpuSeconds() - cpuRenderStart;
  std::fprintf(stderr,
               "load %.3f s (%.3f cpu), build+render %.3f s (%.3f cpu, %.3f us cpu per pixel), "
               "load+build+render %.3f s (%.3f cpu)\n",
               loaded, cpuLoaded, rendered, cpuRendered,
               cpuRendered * 1e6 / (double(width) * height), loaded + rendered,
               cpuLoaded + cpuRendered);
  if (argc > 5 && image) {
    image->writeBmp(argv[5]);
  }
  return 0;
}
