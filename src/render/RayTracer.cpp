#include "render/RayTracer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "accel/MakeIntersector.h"
#include "render/RowRunner.h"
#include "render/TraceBody.h"
#include "render/TraceObserver.h"
#include "render/UsableCpus.h"

namespace {

// Degrees to radians with the factor 3.1415 / 180, not the exact pi / 180.
constexpr double kDegreesToRadians = 0.017452778;

void printProgress(int row, int height) {
  const float percent = float(row + 1) * 100.0f / float(height);
  std::printf("%g%%     \r", double(percent));
  std::fflush(stdout);
}

} // namespace

Vec3 RayTracer::trace(const Scene &scene, const Ray &ray, int depth) const {
  // Built through makeIntersector so that this file sees no concrete
  // structure: the compiler would otherwise guess the only one it sees at
  // every query of the other overload and test for it each time.
  return trace(scene, *makeIntersector(scene.shapes, Structure::List), ray, depth);
}

Vec3 RayTracer::trace(const Scene &scene, const Intersector &shapes, const Ray &ray,
                      int depth) const {
  NoTraceObserver nobody;
  return traceObserved(scene, shapes, ray, depth, nobody);
}

RayTracer::CameraRays RayTracer::cameraRays(const Scene &scene, int width, int height) {
  const float halfHeight = float(std::tan(double(scene.fov) * kDegreesToRadians * 0.5));
  const float halfWidth = float(double(float(width)) / float(height) * halfHeight);

  CameraRays rays;
  rays.start = add(add(scale(scene.right, -halfWidth), scale(scene.up, -halfHeight)),
                   scale(scene.forward, 1.0f));
  // A single column or row has no step to take; it lies on the left or
  // bottom border.
  rays.stepX = width > 1 ? scale(scene.right, float(2.0 * halfWidth / (width - 1))) : Vec3();
  rays.stepY = height > 1 ? scale(scene.up, float(2.0 * halfHeight / (height - 1))) : Vec3();
  return rays;
}

std::unique_ptr<Image> RayTracer::render(const Scene &scene, int width, int height) const {
  const std::unique_ptr<Intersector> shapes =
      makeIntersector(scene, Structure::Auto, std::size_t(width) * std::size_t(height));
  return render(scene, width, height, *shapes, 0);
}

std::unique_ptr<Image> RayTracer::render(const Scene &scene, int width, int height,
                                         const Intersector &shapes, int threads,
                                         bool reportProgress, int bandRows) const {
  auto image = std::make_unique<Image>(width, height);
  if (!image->valid()) {
    return nullptr;
  }
  const CameraRays rays = cameraRays(scene, width, height);

  // Directions advance by repeated addition, so every sample carries the
  // rounding of the additions before it: row starts are formed in row order,
  // then each row is walked from its start, tile by tile.
  const auto renderBand = [&](int firstRow, int rows, const Vec3 *rowStarts) {
    Vec3 current[kMaxBandRows];
    std::copy(rowStarts, rowStarts + rows, current);
    for (int left = 0; left < width; left += kTileColumns) {
      const int right = std::min(width, left + kTileColumns);
      for (int row = 0; row < rows; ++row) {
        for (int column = left; column < right; ++column) {
          Vec3 colour = trace(scene, shapes, Ray(scene.eye, current[row]), kMaxDepth);
          clamp01(colour);
          image->setPixel(column, firstRow + row, colour.x, colour.y, colour.z);
          addInPlace(current[row], rays.stepX);
        }
      }
    }
  };
  if (threads <= 0) {
    threads = usableCpuCount();
  }
  runBands(height, threads, bandRows, rays.start, rays.stepY, renderBand,
           [height, reportProgress](int row) {
             if (reportProgress) {
               printProgress(row, height);
             }
           });
  return image;
}
