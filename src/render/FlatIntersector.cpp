#include "render/FlatIntersector.h"

#include <limits>
#include <type_traits>

#include "geometry/Intersection.h"
#include "geometry/Sphere.h"
#include "geometry/Triangle.h"

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

// Fills the unused slots of the last block so that they never hit.
template <typename Block> void padLastBlock(std::vector<Block> &blocks, std::size_t used) {
  const std::size_t slot = used % flat::kBlockLanes;
  if (slot == 0) {
    return;
  }
  for (std::size_t lane = slot; lane < std::size_t(flat::kBlockLanes); ++lane) {
    if constexpr (std::is_same_v<Block, flat::SphereBlock>) {
      // A NaN centre makes every root NaN, which fails the epsilon tests.
      const double nan = std::numeric_limits<double>::quiet_NaN();
      Block &block = blocks.back();
      block.centerX[lane] = block.centerY[lane] = block.centerZ[lane] = nan;
      block.centerDotCenter[lane] = block.radiusSquared[lane] = nan;
    } else {
      // Zero edges give a zero or NaN determinant and parameter: never a hit.
      Block &block = blocks.back();
      block.vertexX[lane] = block.vertexY[lane] = block.vertexZ[lane] = 0.0;
      block.edge1X[lane] = block.edge1Y[lane] = block.edge1Z[lane] = 0.0;
      block.edge2X[lane] = block.edge2Y[lane] = block.edge2Z[lane] = 0.0;
    }
  }
}

// Among candidates from different arrays: the smaller parameter, and at
// equal parameters the shape earlier in the list.
bool better(float t, std::size_t position, const Hit &best, std::size_t bestPosition) {
  return t < best.t || (t == best.t && best.shape != nullptr && position < bestPosition);
}

} // namespace

FlatIntersector::FlatIntersector(const Scene &scene, SimdLevel level)
    : level_(level < supportedSimdLevel() ? level : supportedSimdLevel()) {
  bool epsilonKnown = false;
  std::size_t position = 0;
  for (const Shape *shape = scene.shapes; shape != nullptr; shape = shape->next, ++position) {
    if (!epsilonKnown) {
      epsilon_ = shape->epsilon;
      epsilonKnown = true;
    }
    const auto *sphere = dynamic_cast<const Sphere *>(shape);
    const auto *triangle = dynamic_cast<const Triangle *>(shape);
    if (shape->epsilon != epsilon_ || (sphere == nullptr && triangle == nullptr)) {
      otherSlots_.push_back({shape, position});
    } else if (sphere != nullptr) {
      sphereSlots_.push_back({shape, position});
      addSphere(sphere->center, sphere->radius);
    } else {
      triangleSlots_.push_back({shape, position});
      addTriangle(triangle->vertex0, triangle->edge1, triangle->edge2);
    }
  }
  padLastBlock(sphereBlocks_, spheres_.size());
  padLastBlock(triangleBlocks_, triangles_.size());
}

void FlatIntersector::addSphere(const Vec3 &center, float radius) {
  const std::size_t lane = spheres_.size() % flat::kBlockLanes;
  spheres_.push_back({center, radius});
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
  const std::size_t lane = triangles_.size() % flat::kBlockLanes;
  triangles_.push_back({vertex0, edge1, edge2});
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
    break;
  }
  for (std::size_t i = 0; i < spheres_.size(); ++i) {
    const float t = intersectSphere(spheres_[i].center, spheres_[i].radius, epsilon_, ray);
    if (t >= 0.0f && t < best.t) {
      best = {t, long(i)};
    }
  }
  return best;
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
    break;
  }
  for (std::size_t i = 0; i < triangles_.size(); ++i) {
    const TriangleData &tri = triangles_[i];
    const float t = intersectTriangle(tri.vertex0, tri.edge1, tri.edge2, epsilon_, ray);
    if (t >= 0.0f && t < best.t) {
      best = {t, long(i)};
    }
  }
  return best;
}

Hit FlatIntersector::nearest(const Ray &ray) const {
  const flat::RayConstants constants(ray, epsilon_);
  Hit best;
  std::size_t bestPosition = 0;
  const Candidate sphere = nearestSphere(ray, constants);
  if (sphere.slot >= 0) {
    best = {sphere.t, sphereSlots_[std::size_t(sphere.slot)].shape};
    bestPosition = sphereSlots_[std::size_t(sphere.slot)].position;
  }
  const Candidate triangle = nearestTriangle(ray, constants);
  if (triangle.slot >= 0) {
    const Slot &slot = triangleSlots_[std::size_t(triangle.slot)];
    if (better(triangle.t, slot.position, best, bestPosition)) {
      best = {triangle.t, slot.shape};
      bestPosition = slot.position;
    }
  }
  for (const Slot &slot : otherSlots_) {
    const float t = slot.shape->intersect(ray);
    if (t >= 0.0f && t < kFarAway && better(t, slot.position, best, bestPosition)) {
      best = {t, slot.shape};
      bestPosition = slot.position;
    }
  }
  return best;
}

bool FlatIntersector::any(const Ray &ray, flat::Query query) const {
  const auto answers = [query](float t) {
    return query == flat::Query::AnyHit ? t > 0.0f : t > 0.0f && t < 1.0f;
  };
  switch (level_) {
#if defined(FLAT_HAVE_X86_KERNELS)
  case SimdLevel::Avx2: {
    const flat::RayConstants c(ray, epsilon_);
    if (flat::avx2::anySphere(sphereBlocks_.data(), sphereBlocks_.size(), c, query) ||
        flat::avx2::anyTriangle(triangleBlocks_.data(), triangleBlocks_.size(), c, query)) {
      return true;
    }
    break;
  }
  case SimdLevel::Sse2: {
    const flat::RayConstants c(ray, epsilon_);
    if (flat::sse2::anySphere(sphereBlocks_.data(), sphereBlocks_.size(), c, query) ||
        flat::sse2::anyTriangle(triangleBlocks_.data(), triangleBlocks_.size(), c, query)) {
      return true;
    }
    break;
  }
#endif
  default:
    for (const SphereData &sphere : spheres_) {
      if (answers(intersectSphere(sphere.center, sphere.radius, epsilon_, ray))) {
        return true;
      }
    }
    for (const TriangleData &tri : triangles_) {
      if (answers(intersectTriangle(tri.vertex0, tri.edge1, tri.edge2, epsilon_, ray))) {
        return true;
      }
    }
    break;
  }
  for (const Slot &slot : otherSlots_) {
    if (answers(slot.shape->intersect(ray))) {
      return true;
    }
  }
  return false;
}

bool FlatIntersector::anyHit(const Ray &ray) const {
  return any(ray, flat::Query::AnyHit);
}

bool FlatIntersector::anyHitBeforeOne(const Ray &ray) const {
  return any(ray, flat::Query::AnyHitBeforeOne);
}
