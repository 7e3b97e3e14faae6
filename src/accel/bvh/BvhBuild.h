#pragma once

#include <cstdint>
#include <vector>

#include "accel/bvh/BvhIntersector.h"

// One shape's inflated box, which the builder sorts by, and the shape's
// index in the items (and in the order buildBvh returns).
struct BvhBuildBox {
  float lo[3];
  float hi[3];
  std::uint32_t id;

  float centroid(int axis) const { return 0.5f * lo[axis] + 0.5f * hi[axis]; }
};

// The magnitudes the ray-dependent part of a shape's inflation needs, which
// the builder sums up per node.
struct BvhBuildItem {
  float gap;       // >= |e1| |e2| of a triangle, 0 for a sphere
  float aspect;    // >= |e1| |e2| / |e1 x e2| of a triangle (infinite if degenerate)
  float normal[3]; // unit normal of a triangle rounded to floats, zero if degenerate
  bool sphere;
};

// Builds the hierarchy over the shapes of `boxes` (at least one; box i has
// id i) and `items` (indexed by id) with a binned surface area heuristic into
// `nodes` (root first) and returns the ids in leaf order. The builder sorts
// the boxes in place and lets them go before it returns. From
// options.parallelBuildFrom shapes the root's two halves are built on two
// threads; the nodes come out the same either way, and with or without
// options.fourLaneBuild.
std::vector<std::uint32_t> buildBvh(std::vector<BvhBuildBox> boxes,
                                    const std::vector<BvhBuildItem> &items,
                                    std::vector<BvhIntersector::Node> &nodes,
                                    const BvhOptions &options);
