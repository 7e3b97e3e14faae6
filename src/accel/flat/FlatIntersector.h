#pragma once

#include <cstddef>
#include <vector>

#include "accel/Intersector.h"
#include "accel/flat/FlatKernels.h"

// Instruction sets the flat intersector can run on, from plain scalar code
// up. Every level gives the same answers bit for bit.
enum class SimdLevel {
  Scalar, // one shape at a time through the free intersection functions
  Sse2,   // two shapes at a time
  Avx2,   // four shapes at a time
};

// The highest level this processor runs.
SimdLevel supportedSimdLevel();

// Spheres and triangles copied into flat arrays, in list order, so that a
// query walks contiguous memory without a virtual call per shape. Answers
// exactly as ListIntersector: within each array the first of equal
// parameters wins, and across arrays RankedHit breaks ties by list position.
class FlatIntersector final : public Intersector {
public:
  // Runs at `level`, or at the highest supported level below it.
  // `shapes` is the head of the shape list.
  explicit FlatIntersector(const Shape *shapes, SimdLevel level = supportedSimdLevel());

  SimdLevel level() const { return level_; }

  Hit nearest(const Ray &ray) const override;
  bool blocked(const Ray &ray, ShadowQuery query) const override;

private:
  struct Slot {
    const Shape *shape;
    std::size_t position; // in the scene's shape list
  };
  struct SphereData {
    Vec3 center;
    float radius;
    float intersect(const Ray &ray) const;
  };
  struct TriangleData {
    Vec3 vertex0;
    Vec3 edge1;
    Vec3 edge2;
    float intersect(const Ray &ray) const;
  };
  // A nearest hit of one array, before the arrays are compared.
  struct Candidate {
    float t = kFarAway;
    long slot = -1;
  };

  void addSphere(const Vec3 &center, float radius);
  void addTriangle(const Vec3 &vertex0, const Vec3 &edge1, const Vec3 &edge2);

  Candidate nearestSphere(const Ray &ray, const flat::RayConstants &constants) const;
  Candidate nearestTriangle(const Ray &ray, const flat::RayConstants &constants) const;
  // A slot that answers `query`, or -1.
  long blockingSphere(const Ray &ray, const flat::RayConstants &constants, ShadowQuery query) const;
  long blockingTriangle(const Ray &ray, const flat::RayConstants &constants,
                        ShadowQuery query) const;

  SimdLevel level_;

  // The plain copies serve the scalar level, the blocks the SIMD levels;
  // only one of them is filled.
  std::vector<SphereData> spheres_;
  std::vector<TriangleData> triangles_;
  std::vector<flat::SphereBlock> sphereBlocks_;
  std::vector<flat::TriangleBlock> triangleBlocks_;
  std::vector<Slot> sphereSlots_;
  std::vector<Slot> triangleSlots_;
  // Shapes of any other kind or epsilon, asked through Shape::intersect.
  std::vector<Slot> otherSlots_;
};
