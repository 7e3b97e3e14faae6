// The per-node bound on a triangle hit's conditioning, |d| |e1| |e2| / |det|,
// must hold for every triangle below the node and every ray direction whose
// determinant passes the threshold: the normal cones, aspects and edge
// products the builder stores must all be conservative.

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <utility>

#include "geometry/Triangle.h"
#include "render/BvhIntersector.h"

namespace {

using Node = BvhIntersector::Node;
using Prim = BvhIntersector::Prim;

// The prims below node `n`, a contiguous range in leaf order.
std::pair<std::uint32_t, std::uint32_t> primRange(const std::vector<Node> &nodes, std::uint32_t n) {
  const Node &node = nodes[n];
  if (const std::uint32_t count = node.meta & BvhIntersector::kCountMask; count > 0) {
    return {node.index, node.index + count};
  }
  return {primRange(nodes, n + 1).first, primRange(nodes, node.index).second};
}

long double lengthL(const Vec3 &v) {
  return std::sqrt((long double)v.x * v.x + (long double)v.y * v.y + (long double)v.z * v.z);
}

// A bumpy sphere of triangles (normals in every direction, neighbours
// alike), some slivers, and a few triangles at random.
void buildMeshScene(Scene &scene, std::mt19937_64 &random, float radius, int rings) {
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  Material material;
  const int segments = 2 * rings;
  auto at = [&](int ring, int segment) {
    const double theta = std::numbers::pi * ring / rings;
    const double phi = 2 * std::numbers::pi * segment / segments;
    const double r = radius * (1.0 + 0.05 * std::sin(7 * theta) * std::cos(5 * phi));
    return Vec3(float(r * std::sin(theta) * std::cos(phi)), float(r * std::cos(theta)),
                float(r * std::sin(theta) * std::sin(phi)));
  };
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      scene.addTriangle(material, at(i, j), at(i + 1, j), at(i + 1, j + 1));
      scene.addTriangle(material, at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  }
  for (int i = 0; i < 40; ++i) {
    const Vec3 a(unit(random) * radius, unit(random) * radius, unit(random) * radius);
    const Vec3 b = add(a, Vec3(unit(random), unit(random), unit(random)));
    // A sliver: the third vertex almost on the first edge.
    const Vec3 c = add(a, scale(sub(b, a), 0.5f + 1e-3f * unit(random)));
    scene.addTriangle(material, a, b, add(c, Vec3(0, 1e-3f * unit(random), 0)));
    scene.addTriangle(material, a, b, add(a, Vec3(unit(random), unit(random), unit(random))));
  }
}

TEST(BvhNodeBound, ConditioningBoundCoversEveryTriangleBelowEveryNode) {
  std::mt19937_64 random(21);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::uniform_real_distribution<float> exponent(-7.0f, 3.0f);
  long long checked = 0;
  for (const auto &[radius, rings] : {std::pair{2.0f, 12}, std::pair{50.0f, 30}}) {
    Scene scene;
    buildMeshScene(scene, random, radius, rings);
    const BvhIntersector hierarchy(scene);
    const std::vector<Node> &nodes = hierarchy.nodes();
    const std::vector<Prim> &prims = hierarchy.prims();
    ASSERT_FALSE(nodes.empty());
    for (std::uint32_t n = 0; n < nodes.size(); ++n) {
      const auto [first, last] = primRange(nodes, n);
      for (int k = 0; k < 12; ++k) {
        // Directions near some triangle's plane, of any length.
        const Prim &aim = prims[first + std::uint32_t(k) % (last - first)];
        Vec3 normal = cross(aim.b, aim.c);
        normalize(normal);
        Vec3 along = add(scale(aim.b, unit(random)), scale(aim.c, unit(random)));
        normalize(along);
        Vec3 direction = add(along, scale(normal, std::pow(10.0f, exponent(random))));
        if (k % 3 == 0) {
          direction = Vec3(unit(random), unit(random), unit(random));
        }
        normalize(direction);
        direction = scale(direction, std::pow(10.0f, exponent(random) * 0.4f + 0.8f));
        const double bound = BvhIntersector::conditioningBound(nodes[n], direction);
        for (std::uint32_t i = first; i < last && i < first + 64; ++i) {
          const Prim &prim = prims[i];
          if (prim.position & BvhIntersector::kSphereBit) {
            continue;
          }
          const double det = dot(cross(direction, prim.c), prim.b); // as intersectTriangle
          if (std::fabs(det) < 0.01f) {
            continue;
          }
          ++checked;
          const long double conditioning =
              lengthL(direction) * lengthL(prim.b) * lengthL(prim.c) / std::fabs((long double)det);
          ASSERT_LE(conditioning, (long double)bound)
              << "node " << n << " prim " << i << " direction " << direction.x << " " << direction.y
              << " " << direction.z;
        }
      }
    }
  }
  EXPECT_GT(checked, 100000);
}

} // namespace
