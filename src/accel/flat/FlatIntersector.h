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

// The kernels of `level`.
const flat::Kernels &kernelsFor(SimdLevel level);

// Spheres and triangles copied into flat arrays, in list order, so that a
// query walks contiguous memory without a virtual call per shape. Answers
// exactly as ListIntersector: within each array the first of equal
// parameters wins, and across the two arrays RankedHit breaks ties by list
// position.
class FlatIntersector final : public Intersector {
public:
  // `shapes` is the head of the shape list. Runs at `level`, or at the
  // highest supported level below it.
  explicit FlatIntersector(const Shape *shapes, SimdLevel level = supportedSimdLevel());

  SimdLevel level() const { return level_; }

  Hit nearest(const Ray &ray) const override;
  bool blocked(const Ray &ray, ShadowQuery query) const override;

private:
  struct Slot {
    const Shape *shape;
    std::size_t position; // in the shape list
  };

  SimdLevel level_;
  const flat::Kernels *kernels_; // those of level_
  std::vector<flat::SphereBlock> sphereBlocks_;
  std::vector<flat::TriangleBlock> triangleBlocks_;
  // The shape behind each lane of the blocks, in the same order.
  std::vector<Slot> sphereSlots_;
  std::vector<Slot> triangleSlots_;
};
