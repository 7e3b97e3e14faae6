// The error analysis in docs/exact-acceleration.md, checked against the
// intersection routines and the hierarchy's nodes: every reported hit point
// lies within the derived distance of the exact shape, the constants the boxes
// are inflated with are no smaller than the derived ones (at compile time),
// and every node's conditioning bound covers the triangles below it.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "accel/bvh/BvhBounds.h"
#include "accel/bvh/BvhIntersector.h"
#include "geometry/Intersection.h"
#include "geometry/Triangle.h"
#include "random_scene.h"

namespace {

using Real = long double;
constexpr Real kUnit = 0x1p-24L;     // float unit roundoff
constexpr Real kSqrtUnit = 0x1p-12L; // its square root

// The derived bounds, without the safety factors the code adds:
//   triangle: distance <= 12.1 u |o - v0| C + 1.01 u max(|e1|, |e2|),  C = |d||e1||e2| / |det|
//   sphere:   distance from the centre <= |r| + 4.6 sqrt(u) (|o| + |q| + |r|)
constexpr Real kTriangleResidual = 12.1L * kUnit;
constexpr Real kTriangleEdge = 1.01L * kUnit;
constexpr Real kSphere = 4.6L * kSqrtUnit;
// A triangle hit with t < 1 lies within 4.2 u A (|o - v0| (1 + u C) + |d|) of
// the triangle's plane, A = |e1||e2| / |e1 x e2|.
constexpr Real kPlaneOffset = 4.2L * kUnit;
constexpr Real kPlaneDrift = kUnit;

// The constants the boxes are inflated with are no smaller than the derived ones.
static_assert(bvh::kTriangleResidual >= kTriangleResidual);
static_assert(bvh::kTriangleEdge >= kTriangleEdge);
static_assert(bvh::kSphere >= kSphere);
static_assert(bvh::kPlaneOffset >= kPlaneOffset && bvh::kPlaneDrift >= kPlaneDrift);
static_assert(bvh::kDeterminantInverse >= 1.0 / double(Shape::kEpsilon)); // |det| >= epsilon
static_assert(bvh::kDeterminantRounding >= 1.1 * double(kUnit));
static_assert(bvh::kAbsolute > 0.0);

// A point in extended precision.
struct P {
  Real x, y, z;
  P(Real x_, Real y_, Real z_) : x(x_), y(y_), z(z_) {}
  P(const Vec3 &v) : x(v.x), y(v.y), z(v.z) {}
  P operator+(P b) const { return {x + b.x, y + b.y, z + b.z}; }
  P operator-(P b) const { return {x - b.x, y - b.y, z - b.z}; }
  P operator*(Real s) const { return {x * s, y * s, z * s}; }
};
Real dotL(P a, P b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
Real lengthL(P a) {
  return std::sqrt(dotL(a, a));
}

// The reported hit point o + t d in extended precision (t d is exact there).
P reported(const Ray &ray, float t) {
  return P(ray.origin) + P(ray.direction) * Real(t);
}

// Distance from p to the triangle a, a + e1, a + e2 (closest-point regions).
Real distanceToTriangle(P p, P a, P e1, P e2) {
  const P b = a + e1;
  const P c = a + e2;
  const Real d1 = dotL(e1, p - a), d2 = dotL(e2, p - a);
  if (d1 <= 0 && d2 <= 0) {
    return lengthL(p - a);
  }
  const Real d3 = dotL(e1, p - b), d4 = dotL(e2, p - b);
  if (d3 >= 0 && d4 <= d3) {
    return lengthL(p - b);
  }
  const Real vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) {
    return lengthL(p - (a + e1 * (d1 / (d1 - d3))));
  }
  const Real d5 = dotL(e1, p - c), d6 = dotL(e2, p - c);
  if (d6 >= 0 && d5 <= d6) {
    return lengthL(p - c);
  }
  const Real vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) {
    return lengthL(p - (a + e2 * (d2 / (d2 - d6))));
  }
  const Real va = d3 * d6 - d5 * d4;
  if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0) {
    return lengthL(p - (b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)))));
  }
  const Real denom = 1 / (va + vb + vc);
  return lengthL(p - (a + e1 * (vb * denom) + e2 * (vc * denom)));
}

// |d||e1||e2| / |det|, det as intersectTriangle forms it.
Real conditioning(const Vec3 &d, const Vec3 &e1, const Vec3 &e2) {
  return lengthL(d) * lengthL(e1) * lengthL(e2) / std::fabs(Real(dot(cross(d, e2), e1)));
}

// A point of the triangle v0, v0 + e1, v0 + e2, edges included.
Vec3 inTriangle(RandomScene &random, const Vec3 &v0, const Vec3 &e1, const Vec3 &e2) {
  float a = random.unit();
  float b = random.unit();
  if (a + b > 1.0f) {
    a = 1.0f - a;
    b = 1.0f - b;
  }
  return add(v0, add(scale(e1, a), scale(e2, b)));
}

Vec3 randomVector(RandomScene &random, float low, float high) {
  Vec3 v = random.direction();
  normalize(v);
  return scale(v, random.logUniform(low, high));
}

// Along the plane of e1 and e2, tilted out of it by a log-uniform amount (up
// to `steepest` times the in-plane part), with a length in [1e-2, `longest`).
Vec3 nearPlane(RandomScene &random, const Vec3 &e1, const Vec3 &e2, float steepest, float longest) {
  Vec3 normal = cross(e1, e2);
  normalize(normal);
  const float u = 2 * random.unit() - 1;
  Vec3 along = add(scale(e1, u), scale(e2, 2 * random.unit() - 1));
  normalize(along);
  Vec3 direction = add(along, scale(normal, random.logUniform(1e-7f, steepest)));
  normalize(direction);
  return scale(direction, random.logUniform(1e-2f, longest));
}

// The bit steps the box faces are rounded outwards with are std::nextafter's,
// at zeros of both signs, subnormals, the largest floats and infinities too.
TEST(BvhBoxRounding, StepsAndOutwardRoundingAreTheLibraryOnes) {
  const double most = std::numeric_limits<float>::max();
  std::vector<double> values = {
      0.0,      -0.0,     0x1p-149,    -0x1p-149,         0x1p-150, -0x1p-160, 0x1p-126,
      1.0,      -1.0,     1 + 0x1p-30, -176.75 - 0x1p-40, most,     -most,     most * (1 + 0x1p-30),
      INFINITY, -INFINITY};
  std::mt19937_64 random(3);
  for (int i = 0; i < 2000; ++i) {
    values.push_back(std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random),
                                std::uniform_int_distribution<int>(-155, 130)(random)));
  }
  const auto bits = [](float f) { return std::bit_cast<std::uint32_t>(f); };
  for (const double x : values) {
    const float f = float(x);
    EXPECT_TRUE(f == -INFINITY || bits(bvh::stepDown(f)) == bits(std::nextafter(f, -INFINITY)))
        << x;
    EXPECT_TRUE(f == INFINITY || bits(bvh::stepUp(f)) == bits(std::nextafter(f, INFINITY))) << x;
    EXPECT_EQ(bits(bvh::floatBelow(x)), bits(double(f) > x ? std::nextafter(f, -INFINITY) : f))
        << x;
    EXPECT_EQ(bits(bvh::floatAbove(x)), bits(double(f) < x ? std::nextafter(f, INFINITY) : f)) << x;
  }
}

TEST(BvhErrorBound, ReportedTriangleHitsLieWithinTheDerivedDistance) {
  RandomScene random(11);
  int hits = 0;
  for (int i = 0; i < 200000; ++i) {
    const Vec3 v0 = randomVector(random, 1e-2f, 1e4f);
    const Vec3 e1 = randomVector(random, 1e-2f, 1e3f);
    const Vec3 e2 = randomVector(random, 1e-2f, 1e3f);
    // Aim at a point of the triangle from a grazing or a steep angle, with a
    // direction of any length.
    const Vec3 target = inTriangle(random, v0, e1, e2);
    const Vec3 direction = nearPlane(random, e1, e2, 1.0f, 1e3f);
    const Ray ray(sub(target, scale(direction, random.logUniform(1e-2f, 1e2f))), direction);

    const float t = intersectTriangle(v0, e1, e2, Shape::kEpsilon, ray);
    if (t < 0.0f) {
      continue;
    }
    ++hits;
    const Real c = conditioning(direction, e1, e2);
    const Real bound = kTriangleResidual * lengthL(P(ray.origin) - v0) * c +
                       kTriangleEdge * std::max(lengthL(e1), lengthL(e2));
    const Real distance = distanceToTriangle(reported(ray, t), v0, e1, e2);
    ASSERT_LE(distance, bound) << "sample " << i;
    // Off the plane, a grazing hit strays far less than along it.
    const P m(Real(e1.y) * e2.z - Real(e1.z) * e2.y, Real(e1.z) * e2.x - Real(e1.x) * e2.z,
              Real(e1.x) * e2.y - Real(e1.y) * e2.x);
    const Real offPlane = std::fabs(dotL(reported(ray, t) - v0, m)) / lengthL(m);
    const Real aspect = lengthL(e1) * lengthL(e2) / lengthL(m);
    ASSERT_TRUE(t >= 1.0f || offPlane <= kPlaneOffset * aspect *
                                             (lengthL(P(ray.origin) - v0) * (1 + kPlaneDrift * c) +
                                              lengthL(direction)))
        << "sample " << i;
  }
  EXPECT_GT(hits, 50000);
}

TEST(BvhErrorBound, ReportedSphereHitsLieWithinTheDerivedDistance) {
  RandomScene random(12);
  int hits = 0;
  for (int i = 0; i < 200000; ++i) {
    const Vec3 centre = randomVector(random, 1e-2f, 1e4f);
    const float size = random.logUniform(1e-3f, 1e3f);
    const float radius = random.chance(0.5f) ? -size : size;
    // Rays passing the centre at about the radius: grazing, entering, or
    // starting inside or on the sphere.
    const Vec3 side = randomVector(random, 1, 1);
    const Vec3 miss = scale(side, std::fabs(radius) * (1.0f + 0.01f * (2 * random.unit() - 1)));
    Vec3 direction = cross(side, random.direction());
    normalize(direction);
    direction = scale(direction, random.logUniform(1e-2f, 1e3f));
    const float back = random.chance(0.1f) ? 0.0f : random.logUniform(1e-3f, 1e4f);
    const Ray ray(sub(add(centre, miss), scale(direction, back)), direction);

    const float t = intersectSphere(centre, radius, Shape::kEpsilon, ray);
    if (t < 0.0f) {
      continue;
    }
    ++hits;
    const Real bound = kSphere * (lengthL(ray.origin) + lengthL(centre) + std::fabs(Real(radius)));
    const Real excess = lengthL(reported(ray, t) - centre) - std::fabs(Real(radius));
    ASSERT_LE(excess, bound) << "sample " << i;
  }
  EXPECT_GT(hits, 50000);
}

using Node = BvhIntersector::Node;

// The prims below node `n`, a contiguous range in leaf order.
std::pair<std::uint32_t, std::uint32_t> primRange(const std::vector<Node> &nodes, std::uint32_t n) {
  if (nodes[n].isLeaf()) {
    return {nodes[n].firstPrim(), nodes[n].firstPrim() + nodes[n].primCount()};
  }
  return {primRange(nodes, n + 1).first, primRange(nodes, nodes[n].secondChild()).second};
}

// A bumpy sphere of triangles and slivers: the normal cones, aspects and edge
// products the builder stores must all be conservative, for directions near
// any triangle's plane.
TEST(BvhNodeBound, ConditioningBoundCoversEveryTriangleBelowEveryNode) {
  RandomScene random(21);
  long long checked = 0;
  for (const int rings : {12, 30}) {
    const float radius = rings == 12 ? 2.0f : 50.0f;
    Scene scene;
    RandomScene::addBall(scene, Vec3(), radius, rings);
    for (int i = 0; i < 40; ++i) {
      const Vec3 a = scale(random.direction(), radius);
      const Vec3 b = add(a, random.direction());
      // The third vertex almost on the first edge.
      const Vec3 c = add(a, scale(sub(b, a), 0.5f + 1e-3f * (2 * random.unit() - 1)));
      scene.addTriangle(Material(), a, b, add(c, Vec3(0, 1e-3f * (2 * random.unit() - 1), 0)));
      scene.addTriangle(Material(), a, b, add(a, random.direction()));
    }
    const BvhIntersector hierarchy(scene.shapes);
    ASSERT_EQ(hierarchy.treeFault(), "");
    const std::vector<Node> &nodes = hierarchy.nodes();
    const std::vector<BvhIntersector::Prim> &prims = hierarchy.prims();
    ASSERT_FALSE(nodes.empty());
    for (std::uint32_t n = 0; n < nodes.size(); ++n) {
      const auto [first, last] = primRange(nodes, n);
      for (std::uint32_t k = 0; k < 12; ++k) {
        const BvhIntersector::Prim &aim = prims[first + k % (last - first)];
        const Vec3 direction = k % 3 == 0 ? randomVector(random, 1e-2f, 1e2f)
                                          : nearPlane(random, aim.b, aim.c, 1e3f, 1e2f);
        const double bound = BvhIntersector::conditioningBound(nodes[n], direction);
        for (std::uint32_t i = first; i < last && i < first + 64; ++i) {
          const BvhIntersector::Prim &prim = prims[i];
          const double det = dot(cross(direction, prim.c), prim.b); // as intersectTriangle
          if ((prim.position & BvhIntersector::kSphereBit) != 0 ||
              std::fabs(det) < Shape::kEpsilon) {
            continue;
          }
          ++checked;
          ASSERT_LE(conditioning(direction, prim.b, prim.c), Real(bound))
              << "node " << n << " prim " << i << " direction " << direction.x << " " << direction.y
              << " " << direction.z;
        }
      }
    }
  }
  EXPECT_GT(checked, 100000);
}

// Shadow rays towards point lights in the plane of a triangle of a bumpy
// sphere (its silhouette seen from the light), a little off it or anywhere,
// from near and from up to 10^4 radii away, starting on a triangle or behind
// it, some ending a little off the light: for every triangle that reports a
// hit with 0 < t < 1 and is not set aside, the conditioning bound of every
// node above it covers |d||e1||e2| / |det|, and it is often far below the
// bound without the lights.
TEST(BvhNodeBound, LightPlaneBoundCoversEveryTriangleThatBlocks) {
  RandomScene random(22);
  long long checked = 0;
  long long tighter = 0;
  std::size_t setAside = 0;
  for (const int rings : {8, 20}) {
    const float radius = rings == 8 ? 0.5f : 50.0f;
    Scene scene;
    RandomScene::addBall(scene, Vec3(), radius, rings);
    const std::vector<const Shape *> shapes = shapeList(scene);
    std::vector<Vec3> lights;
    std::vector<const Triangle *> inPlaneOf;
    std::vector<Vec3> towardsPlane; // from the light to the plane it was placed off
    for (std::size_t k = 0; k < BvhIntersector::kMaxLights; ++k) {
      const auto &from = static_cast<const Triangle &>(
          *shapes[std::size_t(random.whole(0, int(shapes.size()) - 1))]);
      const float far = radius * random.logUniform(0.5f, 1e4f);
      const float off = k % 4 == 0   ? 0.0f
                        : k % 4 == 3 ? random.unit()
                                     : random.logUniform(1e-8f, 1e-3f);
      lights.push_back(random.offPlaneOf(from, far, off));
      inPlaneOf.push_back(&from);
      towardsPlane.push_back(scale(from.unitNormal(), -far * off));
    }
    const BvhIntersector hierarchy(scene.shapes, {.pointLights = lights});
    setAside += hierarchy.setAsideCount();
    const std::vector<Node> &nodes = hierarchy.nodes();
    const std::vector<BvhIntersector::Prim> &prims = hierarchy.prims();
    for (int r = 0; r < 2000; ++r) {
      const std::size_t k = std::size_t(r) % lights.size();
      const Triangle &aim =
          r % 2 == 0 ? *inPlaneOf[k]
                     : static_cast<const Triangle &>(
                           *shapes[std::size_t(random.whole(0, int(shapes.size()) - 1))]);
      const Vec3 onAim = inTriangle(random, aim.vertex0, aim.edge1, aim.edge2);
      const Vec3 origin =
          random.chance(0.3f)
              ? onAim
              : add(onAim, scale(sub(onAim, lights[k]), random.logUniform(1e-3f, 1)));
      const float shift = random.unit();
      const Vec3 end = shift < 0.6f   ? lights[k]
                       : shift < 0.8f ? add(lights[k], scale(towardsPlane[k], random.unit()))
                                      : add(lights[k], randomVector(random, 1e-6f, 1e-2f));
      const Ray ray(origin, sub(end, origin)); // unnormalised, as the tracer makes them
      for (std::uint32_t i = 0; i < prims.size(); ++i) {
        const BvhIntersector::Prim &prim = prims[i];
        if (!blocks(intersectTriangle(prim.a, prim.b, prim.c, Shape::kEpsilon, ray),
                    ShadowQuery::BeforeOne)) {
          continue;
        }
        const Real c = conditioning(ray.direction, prim.b, prim.c);
        for (std::uint32_t n = 0; n < nodes.size(); ++n) {
          const auto [first, last] = primRange(nodes, n);
          if (i < first || i >= last) {
            continue;
          }
          Real span = 0;
          for (int c = 0; c < 8; ++c) {
            const Node &box = nodes[n];
            const P corner(c & 1 ? box.hi[0] : box.lo[0], c & 2 ? box.hi[1] : box.lo[1],
                           c & 4 ? box.hi[2] : box.lo[2]);
            span = std::max(span, lengthL(corner - ray.origin));
          }
          const double bound =
              hierarchy.conditioningTowardsLight(n, i, ray, double(span) * (1.0 + 0x1p-40));
          ++checked;
          tighter += bound < BvhIntersector::conditioningBound(nodes[n], ray.direction) / 4;
          ASSERT_LE(c, Real(bound))
              << "node " << n << " prim " << i << " light " << k << " ray " << r;
        }
      }
    }
  }
  EXPECT_GT(checked, 10000);
  EXPECT_GT(tighter, checked / 8);
  EXPECT_GT(setAside, 0u);
}

} // namespace
