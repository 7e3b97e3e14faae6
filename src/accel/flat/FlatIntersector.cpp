#include "accel/flat/FlatIntersector.h"

#include <limits>

#include "accel/ShapeKinds.h"

flat::RayConstants::RayConstants(const Ray &ray_, Shapes shapes)
    : ray(ray_), originX(ray_.origin.x), originY(ray_.origin.y), originZ(ray_.origin.z),
      directionX(ray_.direction.x), directionY(ray_.direction.y), directionZ(ray_.direction.z),
      originDotOrigin(0.0), fourA(0.0), twoA(0.0), epsilon(Shape::kEpsilon),
      negativeEpsilon(-Shape::kEpsilon) {
  if (shapes == Shapes::TrianglesOnly) {
    return;
  }
  originDotOrigin = dot(ray_.origin, ray_.origin);
  // As in intersectSphere: A is a float, and 4.0 * A * Q groups as
  // (4.0 * A) * Q.
  const float a = float(dot(ray_.direction, ray_.direction));
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

const flat::Kernels &kernelsFor(SimdLevel level) {
  switch (level) {
#if defined(FLAT_HAVE_X86_KERNELS)
  case SimdLevel::Avx2:
    return flat::avx2::kernels;
  case SimdLevel::Sse2:
    return flat::sse2::kernels;
#endif
  default:
    return flat::scalar::kernels;
  }
}

namespace {

// A sphere slot that never hits: a NaN centre makes every root NaN, which
// fails the epsilon tests.
void fillUnusedSlot(flat::SphereBlock &block, int lane) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  block.centerX[lane] = block.centerY[lane] = block.centerZ[lane] = nan;
  block.centerDotCenter[lane] = block.radiusSquared[lane] = nan;
  block.centerFloatX[lane] = block.centerFloatY[lane] = block.centerFloatZ[lane] = float(nan);
}

// A triangle slot that never hits: zero edges give a zero or NaN determinant
// and parameter.
void fillUnusedSlot(flat::TriangleBlock &block, int lane) {
  block.edge1X[lane] = block.edge1Y[lane] = block.edge1Z[lane] = 0.0f;
  block.edge2X[lane] = block.edge2Y[lane] = block.edge2Z[lane] = 0.0f;
  block.vertexX[lane] = block.vertexY[lane] = block.vertexZ[lane] = 0.0f;
}

void store(flat::SphereBlock &block, int lane, const Sphere &sphere) {
  block.centerX[lane] = sphere.center.x;
  block.centerY[lane] = sphere.center.y;
  block.centerZ[lane] = sphere.center.z;
  block.centerDotCenter[lane] = float(dot(sphere.center, sphere.center));
  block.radiusSquared[lane] = double(sphere.radius) * sphere.radius;
  block.centerFloatX[lane] = sphere.center.x;
  block.centerFloatY[lane] = sphere.center.y;
  block.centerFloatZ[lane] = sphere.center.z;
}

void store(flat::TriangleBlock &block, int lane, const Triangle &triangle) {
  block.store(lane, triangle.vertex0, triangle.edge1, triangle.edge2);
}

// Lays the shapes out in blocks, `slot` numbering them in list order; the
// lanes after the last shape never hit.
template <typename Block, typename Shapes> std::vector<Block> blocksOf(const Shapes &shapes) {
  std::vector<Block> blocks((shapes.size() + flat::kBlockLanes - 1) / flat::kBlockLanes);
  for (std::size_t slot = 0; slot < blocks.size() * flat::kBlockLanes; ++slot) {
    Block &block = blocks[slot / flat::kBlockLanes];
    const int lane = int(slot % flat::kBlockLanes);
    if (slot < shapes.size()) {
      store(block, lane, *shapes[slot]);
    } else {
      fillUnusedSlot(block, lane);
    }
  }
  return blocks;
}

} // namespace

FlatIntersector::FlatIntersector(const Shape *shapes, SimdLevel level)
    : level_(level < supportedSimdLevel() ? level : supportedSimdLevel()),
      kernels_(&kernelsFor(level_)) {
  std::vector<const Sphere *> spheres;
  std::vector<const Triangle *> triangles;
  forEachShapeByKind(
      shapes,
      [&](const Sphere &sphere, std::size_t position) {
        sphereSlots_.push_back({&sphere, position});
        spheres.push_back(&sphere);
      },
      [&](const Triangle &triangle, std::size_t position) {
        triangleSlots_.push_back({&triangle, position});
        triangles.push_back(&triangle);
      });
  sphereBlocks_ = blocksOf<flat::SphereBlock>(spheres);
  triangleBlocks_ = blocksOf<flat::TriangleBlock>(triangles);
}

Hit FlatIntersector::nearest(const Ray &ray) const {
  const flat::RayConstants constants(ray);
  RankedHit best;
  float t = kFarAway;
  if (const long slot =
          kernels_->nearestSphere(sphereBlocks_.data(), sphereBlocks_.size(), constants, t);
      slot >= 0) {
    best.offer(t, sphereSlots_[std::size_t(slot)].position, sphereSlots_[std::size_t(slot)].shape);
  }
  t = kFarAway;
  if (const long slot =
          kernels_->nearestTriangle(triangleBlocks_.data(), triangleBlocks_.size(), constants, t);
      slot >= 0) {
    best.offer(t, triangleSlots_[std::size_t(slot)].position,
               triangleSlots_[std::size_t(slot)].shape);
  }
  return best.hit();
}

bool FlatIntersector::blocked(const Ray &ray, ShadowQuery query) const {
  const flat::RayConstants constants(ray);
  return kernels_->anySphere(sphereBlocks_.data(), sphereBlocks_.size(), constants, query) >= 0 ||
         kernels_->anyTriangle(triangleBlocks_.data(), triangleBlocks_.size(), constants, query) >=
             0;
}
