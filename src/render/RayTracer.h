#pragma once

#include <memory>

#include "geometry/Ray.h"
#include "image/Image.h"
#include "render/Intersector.h"
#include "scene/Scene.h"

// How a render is carried out. Every choice gives the same bytes; only the
// time differs.
struct RenderOptions {
  // Which structure answers the tracer's shape queries.
  enum class Shapes {
    Reference, // the scene's shape list, walked through the virtual interface
    Flat,      // flat arrays in list order
    Hierarchy, // a bounding volume hierarchy
    Best,      // whichever is fastest for the scene
  };
  Shapes shapes = Shapes::Best;
  // Worker threads; 0 means one per hardware thread.
  int threads = 0;
};

// The shape-query structure of the given kind, built for `scene`.
std::unique_ptr<Intersector> makeIntersector(const Scene &scene, RenderOptions::Shapes kind);

// Renders a scene by recursive ray tracing: one primary ray per pixel,
// ambient, diffuse and specular terms, hard shadows and mirror reflection.
class RayTracer {
public:
  // Reflection bounces a primary ray may spawn.
  static constexpr int kMaxDepth = 5;

  // Renders at width x height (both at least 1) and prints one progress
  // report per row, in row order, flushed at once. Rows are rendered in
  // parallel; the bytes do not depend on the thread count. Returns null if
  // the raster cannot be allocated.
  std::unique_ptr<Image> render(const Scene &scene, int width, int height) const;
  std::unique_ptr<Image> render(const Scene &scene, int width, int height,
                                const RenderOptions &options) const;
  // The same with a given shape-query structure, built for this scene, and
  // thread count (0 = one per hardware thread).
  std::unique_ptr<Image> render(const Scene &scene, int width, int height,
                                const Intersector &shapes, int threads) const;

  // The colour seen along `ray`, not limited to [0, 1].
  Vec3 trace(const Scene &scene, const Ray &ray, int depth) const;
  // The same, asking `shapes` (built for this scene) which shapes a ray meets.
  Vec3 trace(const Scene &scene, const Intersector &shapes, const Ray &ray, int depth) const;
};
