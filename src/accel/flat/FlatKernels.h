#pragma once

#include <cstddef>

#include "accel/Intersector.h"
#include "geometry/Ray.h"

// Shapes laid out in blocks of four for SIMD: each block holds one field of
// four consecutive shapes side by side, so a kernel loads a field for two or
// four shapes at once: sphere fields as doubles, triangle fields as floats
// that the kernels widen as they load them (every float converts to double
// exactly). The point subtracted from the ray origin is kept as floats, for
// the float subtraction.
// The kernels repeat, lane by lane, the very operations of intersectSphere
// and intersectTriangle in the same order; each lane rounds exactly as the
// scalar code does.
namespace flat {

inline constexpr int kBlockLanes = 4;

// Unused slots of the last block hold a NaN centre, which never hits.
struct alignas(32) SphereBlock {
  double centerX[kBlockLanes];
  double centerY[kBlockLanes];
  double centerZ[kBlockLanes];
  // float(dot(center, center)): does not depend on the ray.
  double centerDotCenter[kBlockLanes];
  // double(radius) * radius, exact in double.
  double radiusSquared[kBlockLanes];
  // The centre again, as floats.
  alignas(16) float centerFloatX[kBlockLanes];
  float centerFloatY[kBlockLanes];
  float centerFloatZ[kBlockLanes];
};

// Unused slots of the last block hold zero edges, which never hit. All
// floats: the kernels widen the edges to double as they load them (exact),
// so a block is small to keep and cheap to fill.
struct alignas(16) TriangleBlock {
  float edge1X[kBlockLanes];
  float edge1Y[kBlockLanes];
  float edge1Z[kBlockLanes];
  float edge2X[kBlockLanes];
  float edge2Y[kBlockLanes];
  float edge2Z[kBlockLanes];
  float vertexX[kBlockLanes];
  float vertexY[kBlockLanes];
  float vertexZ[kBlockLanes];

  void store(int lane, const Vec3 &vertex0, const Vec3 &edge1, const Vec3 &edge2) {
    edge1X[lane] = edge1.x;
    edge1Y[lane] = edge1.y;
    edge1Z[lane] = edge1.z;
    edge2X[lane] = edge2.x;
    edge2Y[lane] = edge2.y;
    edge2Z[lane] = edge2.z;
    vertexX[lane] = vertex0.x;
    vertexY[lane] = vertex0.y;
    vertexZ[lane] = vertex0.z;
  }
};

// The per-ray parts of the arithmetic, computed once with the scalar
// formulas and shared by every shape. Constants for triangles only leave
// the sphere terms (originDotOrigin, fourA, twoA) at zero.
struct RayConstants {
  enum class Shapes { All, TrianglesOnly };
  explicit RayConstants(const Ray &ray, Shapes shapes = Shapes::All);

  const Ray &ray; // as given, for the scalar kernels
  double originX, originY, originZ;
  double directionX, directionY, directionZ;
  double originDotOrigin; // dot(o, o), kept double
  double fourA;           // 4.0 * float(dot(d, d)), exact
  double twoA;            // float(2.0 * float(dot(d, d)))
  double epsilon;         // Shape::kEpsilon
  double negativeEpsilon; // -epsilon, the lower determinant bound
};

// The kernels of one instruction set. Slots number the shapes of the block
// array in order (slot = block * kBlockLanes + lane). nearest*() returns the
// slot of the nearest hit below `bestT` by RankedHit's rule (lowering bestT
// to it), or -1 when there is none; any*() returns a slot whose hit blocks()
// a shadow ray of kind `query`, or -1 when none does.
struct Kernels {
  long (*nearestSphere)(const SphereBlock *blocks, std::size_t blockCount, const RayConstants &ray,
                        float &bestT);
  long (*anySphere)(const SphereBlock *blocks, std::size_t blockCount, const RayConstants &ray,
                    ShadowQuery query);
  long (*nearestTriangle)(const TriangleBlock *blocks, std::size_t blockCount,
                          const RayConstants &ray, float &bestT);
  long (*anyTriangle)(const TriangleBlock *blocks, std::size_t blockCount, const RayConstants &ray,
                      ShadowQuery query);
};

// One shape at a time through intersectSphere and intersectTriangle; runs
// everywhere.
namespace scalar {
extern const Kernels kernels;
}

#if defined(__x86_64__)
#define FLAT_HAVE_X86_KERNELS 1
// Two lanes at a time; SSE2 is part of every x86-64 processor.
namespace sse2 {
extern const Kernels kernels;
}
// Four lanes at a time; only where the processor reports AVX2.
namespace avx2 {
extern const Kernels kernels;
}
#endif

} // namespace flat
