#pragma once

#include <memory>

#include "accel/Intersector.h"
#include "geometry/Ray.h"
#include "image/Image.h"
#include "scene/Scene.h"

// Renders a scene by recursive ray tracing: one primary ray per pixel,
// ambient, diffuse and specular terms, hard shadows and mirror reflection.
class RayTracer {
public:
  // Reflection bounces a primary ray may spawn.
  static constexpr int kMaxDepth = 5;

  // Renders at width x height (both at least 1) and prints one progress
  // report per row, in row order, flushed at once. Rows are rendered in
  // parallel on every CPU this process may use, with the structure makeIntersector()
  // picks for the scene; the bytes do not depend on either. Returns null if
  // the raster cannot be allocated.
  std::unique_ptr<Image> render(const Scene &scene, int width, int height) const;
  // Pixels are traced in tiles of kBandRows rows by kTileColumns columns,
  // left to right along a band of rows: neighbouring rays then meet the same
  // parts of the scene's structures while they are still in the cache. The
  // order changes no byte.
  static constexpr int kBandRows = 8;
  static constexpr int kTileColumns = 8;

  // The same with a given shape-query structure, built over this scene's
  // shapes, and thread count (0 = one per CPU this process may use); without
  // the progress reports when `reportProgress` is false; with `bandRows` 1,
  // row after row, each from left to right.
  std::unique_ptr<Image> render(const Scene &scene, int width, int height,
                                const Intersector &shapes, int threads, bool reportProgress = true,
                                int bandRows = kBandRows) const;

  // The primary rays of a width x height picture: the ray of column x, row y
  // has the direction start + stepY + ... (y times) + stepX + ... (x times),
  // added in that order; runBands() and runRows() form the row starts as render()
  // does.
  struct CameraRays {
    Vec3 start;
    Vec3 stepX;
    Vec3 stepY;
  };
  static CameraRays cameraRays(const Scene &scene, int width, int height);

  // The colour seen along `ray`, not limited to [0, 1], found by walking the
  // shape list.
  Vec3 trace(const Scene &scene, const Ray &ray, int depth) const;
  // The same, asking `shapes` (built over this scene's shapes) which shapes a
  // ray meets.
  Vec3 trace(const Scene &scene, const Intersector &shapes, const Ray &ray, int depth) const;
  // The same, telling `observer` each step (see TraceObserver.h); defined in
  // TraceBody.h. trace() is this with an observer that does nothing.
  template <class Observer>
  Vec3 traceObserved(const Scene &scene, const Intersector &shapes, const Ray &ray, int depth,
                     Observer &observer) const;
};
