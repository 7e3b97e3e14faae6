#pragma once

#include <cstdint>
#include <vector>

#include "accel/bvh/BvhIntersector.h"

// One shape's inflated box, which the builder sorts by.
struct BvhBuildBox {
  float lo[3];
  float hi[3];
};

// The magnitudes the ray-dependent part of a shape's inflation needs, which
// the builder sums up per node.
struct BvhBuildItem {
  float gap;       // >= |e1| |e2| of a triangle, 0 for a sphere
  float aspect;    // >= |e1| |e2| / |e1 x e2| of a triangle (infinite if degenerate)
  float normal[3]; // unit normal of a triangle rounded to floats, zero if degenerate
  bool sphere;
};

// Builds the hierarchy over the shapes of `boxes` and `items` (at least one,
// alike in order) with a binned surface area heuristic into `nodes` (root
// first) and returns the shape indices in leaf order. The boxes are let go
// once the builder has its own copy. From `parallelFrom` shapes the root's two
// halves are built on two threads; the nodes come out the same either way.
std::vector<std::uint32_t> buildBvh(std::vector<BvhBuildBox> boxes,
                                    const std::vector<BvhBuildItem> &items,
                                    std::vector<BvhIntersector::Node> &nodes,
                                    std::uint32_t parallelFrom);
