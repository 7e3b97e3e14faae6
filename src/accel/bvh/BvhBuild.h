#pragma once

#include <cstdint>
#include <vector>

#include "accel/bvh/BvhIntersector.h"

// One shape as the builder sees it: its inflated box and the magnitudes the
// ray-dependent part of its inflation needs.
struct BvhBuildItem {
  float lo[3];
  float hi[3];
  float gap;       // >= |e1| |e2| of a triangle, 0 for a sphere
  float aspect;    // >= |e1| |e2| / |e1 x e2| of a triangle (infinite if degenerate)
  float normal[3]; // unit normal of a triangle rounded to floats, zero if degenerate
  bool sphere;
};

// Builds the hierarchy over `items` (at least one) with a binned surface area
// heuristic into `nodes` (root first) and returns the item indices in leaf
// order. From `parallelFrom` items the root's two halves are built on two
// threads; the nodes come out the same either way.
std::vector<std::uint32_t> buildBvh(const std::vector<BvhBuildItem> &items,
                                    std::vector<BvhIntersector::Node> &nodes,
                                    std::uint32_t parallelFrom);
