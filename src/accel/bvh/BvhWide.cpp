#include "accel/bvh/BvhWide.h"

#include <algorithm>
#include <bit>

#include "accel/bvh/BvhBounds.h"

namespace {

using Node = BvhIntersector::Node;

float area(const Node &node) {
  const float x = node.hi[0] - node.lo[0];
  const float y = node.hi[1] - node.lo[1];
  const float z = node.hi[2] - node.lo[2];
  return x * y + y * z + z * x;
}

class Collapser {
public:
  // Reserves exactly the wide nodes the tree makes: a large scene cannot
  // afford an estimate's spare room.
  explicit Collapser(const std::vector<Node> &nodes) : nodes_(nodes) {
    wide_.reserve(nodes.empty() ? 0 : countFrom(0));
  }

  // Makes the wide node for two-child node `binary` and those below it;
  // returns its index.
  std::uint32_t make(std::uint32_t binary) {
    const std::uint32_t slot = std::uint32_t(wide_.size());
    wide_.emplace_back();
    std::uint32_t children[BvhWideNode::kLanes];
    const int lanes = childrenOf(binary, children);
    BvhWideNode node{};
    node.lanes = std::uint8_t(lanes);
    for (int lane = 0; lane < lanes; ++lane) {
      const Node &child = nodes_[children[lane]];
      node.binaryChild[lane] = children[lane];
      // As BvhIntersector::reachOf works it out, then its top half (rounded down).
      const float negligible = bvh::negligibleReachOf(child);
      node.negligibleBelow[lane] = std::uint16_t(std::bit_cast<std::uint32_t>(negligible) >> 16);
      for (int a = 0; a < 3; ++a) {
        node.lo[a][lane] = child.lo[a];
        node.hi[a][lane] = child.hi[a];
      }
      if (child.isLeaf()) {
        node.child[lane] = child.firstPrim();
        node.count[lane] = std::uint8_t(child.primCount());
      } else {
        node.child[lane] = make(children[lane]);
      }
    }
    wide_[slot] = node;
    return slot;
  }

  std::vector<BvhWideNode> take() { return std::move(wide_); }

private:
  // The wide nodes made for `binary` and those below it.
  std::size_t countFrom(std::uint32_t binary) const {
    std::uint32_t children[BvhWideNode::kLanes];
    const int lanes = childrenOf(binary, children);
    std::size_t total = 1;
    for (int lane = 0; lane < lanes; ++lane) {
      if (!nodes_[children[lane]].isLeaf()) {
        total += countFrom(children[lane]);
      }
    }
    return total;
  }

  // The two-child nodes that become the children of `binary`'s wide node:
  // the inner child with the largest box is opened until four children
  // remain (a leaf as the root stays a single child), keeping their order.
  int childrenOf(std::uint32_t binary, std::uint32_t children[BvhWideNode::kLanes]) const {
    children[0] = binary;
    int count = 1;
    if (!nodes_[binary].isLeaf()) {
      children[0] = binary + 1;
      children[1] = nodes_[binary].secondChild();
      count = 2;
    }
    while (count < BvhWideNode::kLanes) {
      int widest = -1;
      for (int i = 0; i < count; ++i) {
        if (!nodes_[children[i]].isLeaf() &&
            (widest < 0 || area(nodes_[children[i]]) > area(nodes_[children[widest]]))) {
          widest = i;
        }
      }
      if (widest < 0) {
        break;
      }
      const std::uint32_t opened = children[widest];
      std::copy_backward(children + widest + 1, children + count, children + count + 1);
      children[widest] = opened + 1;
      children[widest + 1] = nodes_[opened].secondChild();
      ++count;
    }
    return count;
  }

private:
  const std::vector<Node> &nodes_;
  std::vector<BvhWideNode> wide_;
};

} // namespace

std::vector<BvhWideNode> collapseToWide(const std::vector<BvhIntersector::Node> &nodes) {
  Collapser collapser(nodes);
  if (!nodes.empty()) {
    collapser.make(0);
  }
  return collapser.take();
}
