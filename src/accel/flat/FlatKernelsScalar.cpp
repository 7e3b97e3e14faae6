// The flat-array kernels one shape at a time, through the very routines the
// shapes themselves use. Runs on every processor.

#include <cmath>

#include "accel/flat/FlatKernels.h"
#include "geometry/Intersection.h"
#include "geometry/Shape.h"

namespace flat::scalar {
namespace {

// The block fields are floats, some held exactly as doubles.
template <typename Value>
Vec3 at(const Value (&x)[kBlockLanes], const Value (&y)[kBlockLanes], const Value (&z)[kBlockLanes],
        int lane) {
  return {float(x[lane]), float(y[lane]), float(z[lane])};
}

float intersect(const SphereBlock &block, int lane, const Ray &ray) {
  // radiusSquared is double(r) * r, exact, so its square root is |r|; the
  // routine uses the radius only squared.
  const float radius = float(std::sqrt(block.radiusSquared[lane]));
  return intersectSphere(at(block.centerX, block.centerY, block.centerZ, lane), radius,
                         Shape::kEpsilon, ray);
}

float intersect(const TriangleBlock &block, int lane, const Ray &ray) {
  return intersectTriangle(at(block.vertexX, block.vertexY, block.vertexZ, lane),
                           at(block.edge1X, block.edge1Y, block.edge1Z, lane),
                           at(block.edge2X, block.edge2Y, block.edge2Z, lane), Shape::kEpsilon,
                           ray);
}

template <typename Block>
long nearest(const Block *array, std::size_t blockCount, const RayConstants &ray, float &bestT) {
  RankedHit best;
  best.t = bestT;
  for (std::size_t slot = 0; slot < blockCount * kBlockLanes; ++slot) {
    best.offer(intersect(array[slot / kBlockLanes], int(slot % kBlockLanes), ray.ray), slot,
               nullptr);
  }
  if (best.position == RankedHit().position) {
    return -1;
  }
  bestT = best.t;
  return long(best.position);
}

template <typename Block>
long any(const Block *array, std::size_t blockCount, const RayConstants &ray, ShadowQuery query) {
  for (std::size_t slot = 0; slot < blockCount * kBlockLanes; ++slot) {
    if (blocks(intersect(array[slot / kBlockLanes], int(slot % kBlockLanes), ray.ray), query)) {
      return long(slot);
    }
  }
  return -1;
}

} // namespace

const Kernels kernels = {nearest<SphereBlock>, any<SphereBlock>, nearest<TriangleBlock>,
                         any<TriangleBlock>};

} // namespace flat::scalar
