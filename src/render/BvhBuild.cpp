#include "render/BvhBuild.h"

#include <algorithm>
#include <array>
#include <limits>

#include "render/BvhBounds.h"

namespace {

using Node = BvhIntersector::Node;

constexpr int kBins = 16;
constexpr std::uint32_t kMaxLeaf = 8;
// Relative costs of one box test and one shape test.
constexpr float kTraversalCost = 6.0f;
constexpr float kShapeCost = 1.0f;
// Below this depth splits are by surface area; deeper ones (only reached by
// very lopsided scenes) split at the median, which bounds the tree depth.
constexpr int kSahDepth = 40;

struct Box {
  float lo[3] = {INFINITY, INFINITY, INFINITY};
  float hi[3] = {-INFINITY, -INFINITY, -INFINITY};

  void grow(const float *l, const float *h) {
    for (int i = 0; i < 3; ++i) {
      lo[i] = std::min(lo[i], l[i]);
      hi[i] = std::max(hi[i], h[i]);
    }
  }
  void grow(const Box &b) { grow(b.lo, b.hi); }
  float area() const {
    const float x = hi[0] - lo[0];
    const float y = hi[1] - lo[1];
    const float z = hi[2] - lo[2];
    if (!(x >= 0.0f)) {
      return 0.0f;
    }
    return x * y + y * z + z * x;
  }
};

class Builder {
public:
  Builder(const std::vector<BvhBuildItem> &items, std::vector<Node> &nodes)
      : items_(items), nodes_(nodes), order_(items.size()), centroids_(items.size()) {
    for (std::uint32_t i = 0; i < items.size(); ++i) {
      order_[i] = i;
      for (int a = 0; a < 3; ++a) {
        centroids_[i][a] = 0.5f * items[i].lo[a] + 0.5f * items[i].hi[a];
      }
    }
  }

  std::vector<std::uint32_t> run() {
    nodes_.clear();
    nodes_.reserve(items_.size() / 2 + 1);
    build(0, std::uint32_t(items_.size()), 0);
    nodes_.shrink_to_fit();
    return std::move(order_);
  }

private:
  // Emits the node for order_[begin, end) and its subtree.
  void build(std::uint32_t begin, std::uint32_t end, int depth) {
    const std::uint32_t self = std::uint32_t(nodes_.size());
    nodes_.emplace_back();
    Box bounds;
    Box centroidBounds;
    double gap = 0.0;
    bool sphere = false;
    for (std::uint32_t i = begin; i < end; ++i) {
      const BvhBuildItem &item = items_[order_[i]];
      bounds.grow(item.lo, item.hi);
      centroidBounds.grow(centroids_[order_[i]].data(), centroids_[order_[i]].data());
      gap = std::max(gap, item.gap);
      sphere = sphere || item.sphere;
    }
    {
      Node &node = nodes_[self];
      std::copy(bounds.lo, bounds.lo + 3, node.lo);
      std::copy(bounds.hi, bounds.hi + 3, node.hi);
      node.flags = sphere ? BvhIntersector::kHoldsSphere : 0;
      node.gapExponent = bvh::exponentAbove(gap);
    }

    const std::uint32_t count = end - begin;
    int axis = 0;
    std::uint32_t middle = 0;
    if (!chooseSplit(begin, end, depth, bounds, centroidBounds, axis, middle)) {
      Node &node = nodes_[self];
      node.index = begin;
      node.count = std::uint8_t(count);
      return;
    }
    build(begin, middle, depth + 1);
    Node &node = nodes_[self];
    node.index = std::uint32_t(nodes_.size());
    node.count = 0;
    node.flags = std::uint8_t(node.flags | axis);
    build(middle, end, depth + 1);
  }

  // Picks a split of order_[begin, end) and partitions it; false for a leaf.
  bool chooseSplit(std::uint32_t begin, std::uint32_t end, int depth, const Box &bounds,
                   const Box &centroidBounds, int &axis, std::uint32_t &middle) {
    const std::uint32_t count = end - begin;
    if (count <= 1) {
      return false;
    }
    axis = 0;
    for (int a = 1; a < 3; ++a) {
      if (centroidBounds.hi[a] - centroidBounds.lo[a] >
          centroidBounds.hi[axis] - centroidBounds.lo[axis]) {
        axis = a;
      }
    }
    const bool flat = !(centroidBounds.hi[axis] > centroidBounds.lo[axis]);
    if (flat || depth >= kSahDepth) {
      if (count <= kMaxLeaf) {
        return false;
      }
      // Coincident centroids or a lopsided scene: halve by position.
      middle = begin + count / 2;
      if (!flat) {
        std::nth_element(order_.begin() + begin, order_.begin() + middle, order_.begin() + end,
                         [&](std::uint32_t x, std::uint32_t y) {
                           return centroids_[x][axis] < centroids_[y][axis];
                         });
      }
      return true;
    }

    struct Bin {
      Box box;
      std::uint32_t count = 0;
    };
    std::array<std::array<Bin, kBins>, 3> bins{};
    float scale[3];
    for (int a = 0; a < 3; ++a) {
      const float extent = centroidBounds.hi[a] - centroidBounds.lo[a];
      scale[a] = extent > 0.0f ? float(kBins) * 0.99999f / extent : 0.0f;
    }
    for (std::uint32_t i = begin; i < end; ++i) {
      const std::uint32_t id = order_[i];
      const BvhBuildItem &item = items_[id];
      for (int a = 0; a < 3; ++a) {
        int b = int((centroids_[id][a] - centroidBounds.lo[a]) * scale[a]);
        b = std::clamp(b, 0, kBins - 1);
        bins[a][b].box.grow(item.lo, item.hi);
        ++bins[a][b].count;
      }
    }

    float bestCost = std::numeric_limits<float>::infinity();
    int bestAxis = -1;
    int bestBin = 0;
    for (int a = 0; a < 3; ++a) {
      if (scale[a] == 0.0f) {
        continue;
      }
      std::array<float, kBins> rightArea{};
      std::array<std::uint32_t, kBins> rightCount{};
      Box right;
      std::uint32_t n = 0;
      for (int b = kBins - 1; b > 0; --b) {
        right.grow(bins[a][b].box);
        n += bins[a][b].count;
        rightArea[b] = right.area();
        rightCount[b] = n;
      }
      Box left;
      n = 0;
      for (int b = 0; b < kBins - 1; ++b) {
        left.grow(bins[a][b].box);
        n += bins[a][b].count;
        if (n == 0 || rightCount[b + 1] == 0) {
          continue;
        }
        const float cost = left.area() * float(n) + rightArea[b + 1] * float(rightCount[b + 1]);
        if (cost < bestCost) {
          bestCost = cost;
          bestAxis = a;
          bestBin = b;
        }
      }
    }
    const float area = bounds.area();
    const float leafCost = kShapeCost * float(count);
    const float splitCost = area > 0.0f ? kTraversalCost + kShapeCost * bestCost / area : leafCost;
    if (bestAxis < 0 || (count <= kMaxLeaf && leafCost <= splitCost)) {
      if (count <= kMaxLeaf) {
        return false;
      }
      middle = begin + count / 2;
      return true;
    }
    axis = bestAxis;
    const float lo = centroidBounds.lo[axis];
    const float s = scale[axis];
    const auto split =
        std::partition(order_.begin() + begin, order_.begin() + end, [&](std::uint32_t id) {
          const int b = std::clamp(int((centroids_[id][axis] - lo) * s), 0, kBins - 1);
          return b <= bestBin;
        });
    middle = std::uint32_t(split - order_.begin());
    if (middle == begin || middle == end) {
      middle = begin + count / 2;
    }
    return true;
  }

  const std::vector<BvhBuildItem> &items_;
  std::vector<Node> &nodes_;
  std::vector<std::uint32_t> order_;
  std::vector<std::array<float, 3>> centroids_;
};

} // namespace

std::vector<std::uint32_t> buildBvh(const std::vector<BvhBuildItem> &items,
                                    std::vector<BvhIntersector::Node> &nodes) {
  return Builder(items, nodes).run();
}
