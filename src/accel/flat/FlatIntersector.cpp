#include "accel/flat/FlatIntersector.h"

#include <limits>

#include "accel/ShapeKinds.h"
#include "geometry/Intersection.h"

flat::RayConstants::RayConstants(const Ray &ray, float epsilon_)
    : originX(ray.origin.x), originY(ray.origin.y), originZ(ray.origin.z),
      directionX(ray.direction.x), directionY(ray.direction.y), directionZ(ray.direction.z),
      originDotOrigin(dot(ray.origin, ray.origin)), epsilon(epsilon_), negativeEpsilon(-epsilon_) {
  // As in intersectSphere: A is a float, and 4.0 * A * Q groups as
  // (4.0 * A) * Q.
  const float a = float(dot(ray.direction, ray.direction));
  fourA = 4.0 * a;
  twoA = float(2.0 * a);
}

SimdLevel supportedSimdLevel() {
#if defined(FLAT_HAVE_X86_KERNELS)
  static const SimdLevel level = __builtin_cpu_supports("avx2") ? SimdLevel::Avx2 : SimdLevel::Sse2;
  return level;
#else
  return SimdLevel::Scalar;
#endif
}

namespace {

// A sphere slot that never hits: a NaN centre makes every root NaN, which
// fails the epsilon tests.
void fillUnusedSlot(flat::SphereBlock &block, int lane) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  block.centerX[lane] = block.centerY[lane] = block.centerZ[lane] = nan;
  block.centerDotCenter[lane] = block.radiusSquared[lane] = nan;
}

// A triangle slot that never hits: zero edges give a zero or NaN determinant
// and parameter.
void fillUnusedSlot(flat::TriangleBlock &block, int lane) {
  block.vertexX[lane] = block.vertexY[lane] = block.vertexZ[lane] = 0.0;
  block.edge1X[lane] = block.edge1Y[lane] = block.edge1Z[lane] = 0.0;
  block.edge2X[lane] = block.edge2Y[lane] = block.edge2Z[lane] = 0.0;
}

// The kernels take two groups of lanes at a time: fills the last block and
// adds an empty one where the count of blocks is odd.
template <typename Block> void padBlocks(std::vector<Block> &blocks, std::size_t used) {
  if (blocks.empty()) {
    return; // nothing to pad, or the scalar level, which uses no blocks
  }
  for (int lane = int(used % flat::kBlockLanes); lane > 0 && lane < flat::kBlockLanes; ++lane) {
    fillUnusedSlot(blocks.back(), lane);
  }
  if (blocks.size() % 2 != 0) {
    blocks.emplace_back();
    for (int lane = 0; lane < flat::kBlockLanes; ++lane) {
      fillUnusedSlot(blocks.back(), lane);
    }
  }
}

// The scalar level, one copy at a time, with the same results as the
// kernels: the slot of the first smallest t >= 0 below bestT, lowering
// bestT to it, or -1.
template <typename Copy>
long nearestOf(const std::vector<Copy> &copies, const Ray &ray, float &bestT) {
  long bestSlot = -1;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    const float t = copies[i].intersect(ray);
    if (t >= 0.0f && t < bestT) {
      bestT = t;
      bestSlot = long(i);
    }
  }
  return bestSlot;
}

// The scalar level: the first slot that answers `query`, or -1.
template <typename Copy>
long firstAnswering(const std::vector<Copy> &copies, const Ray &ray, ShadowQuery query) {
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (blocks(copies[i].intersect(ray), query)) {
      return long(i);
    }
  }
  return -1;
}

} // namespace

FlatIntersector::FlatIntersector(const Shape *shapes, SimdLevel level)
    : level_(level < supportedSimdLevel() ? level : supportedSimdLevel()) {
  forEachShapeByKind(
      shapes,
      [&](const Sphere &sphere, std::size_t position) {
        sphereSlots_.push_back({&sphere, position});
        addSphere(sphere.center, sphere.radius);
      },
      [&](const Triangle &triangle, std::size_t position) {
        triangleSlots_.push_back({&triangle, position});
        addTriangle(triangle.vertex0, triangle.edge1, triangle.edge2);
      },
      [&](const Shape &shape, std::size_t position) {
        otherSlots_.push_back({&shape, position});
      });
  padBlocks(sphereBlocks_, sphereSlots_.size());
  padBlocks(triangleBlocks_, triangleSlots_.size());
}

float FlatIntersector::SphereData::intersect(const Ray &ray) const {
  return intersectSphere(center, radius, kShapeEpsilon, ray);
}

float FlatIntersector::TriangleData::intersect(const Ray &ray) const {
  return intersectTriangle(vertex0, edge1, edge2, kShapeEpsilon, ray);
}

void FlatIntersector::addSphere(const Vec3 &center, float radius) {
  if (level_ == SimdLevel::Scalar) {
    spheres_.push_back({center, radius});
    return;
  }
  const std::size_t lane = (sphereSlots_.size() - 1) % flat::kBlockLanes;
  if (lane == 0) {
    sphereBlocks_.emplace_back();
  }
  flat::SphereBlock &block = sphereBlocks_.back();
  block.centerX[lane] = center.x;
  block.centerY[lane] = center.y;
  block.centerZ[lane] = center.z;
  block.centerDotCenter[lane] = float(dot(center, center));
  block.radiusSquared[lane] = double(radius) * radius;
}

void FlatIntersector::addTriangle(const Vec3 &vertex0, const Vec3 &edge1, const Vec3 &edge2) {
  if (level_ == SimdLevel::Scalar) {
    triangles_.push_back({vertex0, edge1, edge2});
    return;
  }
  const std::size_t lane = (triangleSlots_.size() - 1) % flat::kBlockLanes;
  if (lane == 0) {
    triangleBlocks_.emplace_back();
  }
  flat::TriangleBlock &block = triangleBlocks_.back();
  block.vertexX[lane] = vertex0.x;
  block.vertexY[lane] = vertex0.y;
  block.vertexZ[lane] = vertex0.z;
  block.edge1X[lane] = edge1.x;
  block.edge1Y[lane] = edge1.y;
  block.edge1Z[lane] = edge1.z;
  block.edge2X[lane] = edge2.x;
  block.edge2Y[lane] = edge2.y;
  block.edge2Z[lane] = edge2.z;
}

FlatIntersector::Candidate FlatIntersector::nearestSphere(const Ray &ray,
                                                          const flat::RayConstants &c) const {
  Candidate best;
  switch (level_) {
#if defined(FLAT_HAVE_X86_KERNELS)
  case SimdLevel::Avx2:
    best.slot = flat::avx2::nearestSphere(sphereBlocks_.data(), sphereBlocks_.size(), c, best.t);
    return best;
  case SimdLevel::Sse2:
    best.slot = flat::sse2::nearestSphere(sphereBlocks_.data(), sphereBlocks_.size(), c, best.t);
    return best;
#endif
  default:
    best.slot = nearestOf(spheres_, ray, best.t);
    return best;
  }
}

FlatIntersector::Candidate FlatIntersector::nearestTriangle(const Ray &ray,
                                                            const flat::RayConstants &c) const {
  Candidate best;
  switch (level_) {
#if defined(FLAT_HAVE_X86_KERNELS)
  case SimdLevel::Avx2:
    best.slot =
        flat::avx2::nearestTriangle(triangleBlocks_.data(), triangleBlocks_.size(), c, best.t);
    return best;
  case SimdLevel::Sse2:
    best.slot =
        flat::sse2::nearestTriangle(triangleBlocks_.data(), triangleBlocks_.size(), c, best.t);
    return best;
#endif
  default:
    best.slot = nearestOf(triangles_, ray, best.t);
    return best;
  }
}

Hit FlatIntersector::nearest(const Ray &ray) const {
  const flat::RayConstants constants(ray, kShapeEpsilon);
  RankedHit best;
  if (const Candidate sphere = nearestSphere(ray, constants); sphere.slot >= 0) {
    const Slot &slot = sphereSlots_[std::size_t(sphere.slot)];
    best.offer(sphere.t, slot.position, slot.shape);
  }
  if (const Candidate triangle = nearestTriangle(ray, constants); triangle.slot >= 0) {
    const Slot &slot = triangleSlots_[std::size_t(triangle.slot)];
    best.offer(triangle.t, slot.position, slot.shape);
  }
  for (const Slot &slot : otherSlots_) {
    best.offer(slot.shape->intersect(ray), slot.position, slot.shape);
  }
  return best.hit();
}

long FlatIntersector::blockingSphere(const Ray &ray, const flat::RayConstants &c,
                                     ShadowQuery query) const {
  switch (level_) {
#if defined(FLAT_HAVE_X86_KERNELS)
  case SimdLevel::Avx2:
    return flat::avx2::anySphere(sphereBlocks_.data(), sphereBlocks_.size(), c, query);
  case SimdLevel::Sse2:
    return flat::sse2::anySphere(sphereBlocks_.data(), sphereBlocks_.size(), c, query);
#endif
  default:
    return firstAnswering(spheres_, ray, query);
  }
}

long FlatIntersector::blockingTriangle(const Ray &ray, const flat::RayConstants &c,
                                       ShadowQuery query) const {
  switch (level_) {
#if defined(FLAT_HAVE_X86_KERNELS)
  case SimdLevel::Avx2:
    return flat::avx2::anyTriangle(triangleBlocks_.data(), triangleBlocks_.size(), c, query);
  case SimdLevel::Sse2:
    return flat::sse2::anyTriangle(triangleBlocks_.data(), triangleBlocks_.size(), c, query);
#endif
  default:
    return firstAnswering(triangles_, ray, query);
  }
}

bool FlatIntersector::blocked(const Ray &ray, ShadowQuery query) const {
  const flat::RayConstants c(ray, kShapeEpsilon);
  if (blockingSphere(ray, c, query) >= 0 || blockingTriangle(ray, c, query) >= 0) {
    return true;
  }
  for (const Slot &slot : otherSlots_) {
    if (blocks(slot.shape->intersect(ray), query)) {
      return true;
    }
  }
  return false;
}
