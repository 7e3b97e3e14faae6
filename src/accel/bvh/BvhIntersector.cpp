#include "accel/bvh/BvhIntersector.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <mutex>
#include <new>
#include <numeric>
#include <utility>

#include "accel/bvh/BvhBounds.h"
#include "accel/bvh/BvhBuild.h"
#include "accel/bvh/BvhWide.h"
#include "accel/bvh/LightBuffer.h"
#include "accel/bvh/TwoThreads.h"
#include "geometry/Intersection.h"
#include "geometry/Sphere.h"
#include "geometry/Triangle.h"

namespace {

static_assert(sizeof(BvhIntersector::Node) == 36, "nodes are meant to stay small");
static_assert(sizeof(BvhIntersector::Prim) == 40, "prims are meant to stay small");

struct Candidate {
  BvhIntersector::Prim prim;
  BvhBuildBox box;
  BvhBuildItem item;
};

void boxAround(BvhBuildBox &box, const double lo[3], const double hi[3], double margin) {
  for (int a = 0; a < 3; ++a) {
    box.lo[a] = bvh::floatBelow(lo[a] - margin);
    box.hi[a] = bvh::floatAbove(hi[a] + margin);
  }
}

// The triangle's box is that of vertex0, vertex0 + edge1 and vertex0 + edge2
// (what the intersection arithmetic sees), grown by the ray-independent part
// of its error bound; the rest is added per ray from `gap`.
bool candidateFor(const Triangle &triangle, std::uint32_t position, Candidate &out) {
  const Vec3 &v0 = triangle.vertex0;
  const Vec3 &e1 = triangle.edge1;
  const Vec3 &e2 = triangle.edge2;
  if (!bvh::withinRange(v0) || !bvh::withinRange(e1) || !bvh::withinRange(e2)) {
    return false;
  }
  const double p0[3] = {v0.x, v0.y, v0.z};
  const double p1[3] = {double(v0.x) + e1.x, double(v0.y) + e1.y, double(v0.z) + e1.z};
  const double p2[3] = {double(v0.x) + e2.x, double(v0.y) + e2.y, double(v0.z) + e2.z};
  double lo[3];
  double hi[3];
  for (int a = 0; a < 3; ++a) {
    lo[a] = std::min({p0[a], p1[a], p2[a]});
    hi[a] = std::max({p0[a], p1[a], p2[a]});
  }
  const double e1Length = bvh::lengthAbove(e1);
  const double e2Length = bvh::lengthAbove(e2);
  // The sums above may round by one unit in the last place of a double.
  const double margin = (bvh::kTriangleEdge * std::max(e1Length, e2Length) + bvh::kAbsolute +
                         0x1p-50 * std::max(std::fabs(lo[0]) + std::fabs(hi[0]),
                                            std::max(std::fabs(lo[1]) + std::fabs(hi[1]),
                                                     std::fabs(lo[2]) + std::fabs(hi[2])))) *
                        (1.0 + 0x1p-40);
  out.prim = {v0, e1, e2, position};
  boxAround(out.box, lo, hi, margin);
  const double gap = e1Length * e2Length * (1.0 + 0x1p-40);
  out.item.gap = bvh::floatAbove(gap);
  double m[3];
  bvh::crossInDouble(e1, e2, m);
  const double mLength = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
  const double mBelow = mLength * (1.0 - 0x1p-40);
  out.item.aspect = mBelow > 0.0 ? bvh::floatAbove(gap / mBelow * (1.0 + 0x1p-40)) : INFINITY;
  for (int a = 0; a < 3; ++a) {
    out.item.normal[a] = mLength > 0.0 ? float(m[a] / mLength) : 0.0f;
  }
  out.item.sphere = false;
  return true;
}

// A sphere's reported hits lie within |r| + kSphere (|o| + |q| + |r|) of its
// centre; the |o| part is added per ray.
bool candidateFor(const Sphere &sphere, std::uint32_t position, Candidate &out) {
  const Vec3 &q = sphere.center;
  if (!bvh::withinRange(q) || !bvh::withinRange(sphere.radius)) {
    return false;
  }
  const double r = std::fabs(double(sphere.radius));
  const double qLength = bvh::lengthAbove(q);
  const double reach = (r + bvh::kSphere * (qLength + r) + bvh::kAbsolute) * (1.0 + 0x1p-40);
  const double lo[3] = {q.x, q.y, q.z};
  out.prim = {q, Vec3(sphere.radius, 0.0f, 0.0f), Vec3(), position | BvhIntersector::kSphereBit};
  boxAround(out.box, lo, lo, reach);
  out.item.gap = 0.0f;
  out.item.aspect = 0.0f;
  out.item.normal[0] = out.item.normal[1] = out.item.normal[2] = 0.0f;
  out.item.sphere = true;
  return true;
}

// The geometry the intersection routine reads, as candidateFor stores it.
BvhIntersector::Prim primOf(const Shape &shape, std::uint32_t position) {
  if ((position & BvhIntersector::kSphereBit) != 0) {
    const auto &sphere = static_cast<const Sphere &>(shape);
    return {sphere.center, Vec3(sphere.radius, 0.0f, 0.0f), Vec3(), position};
  }
  const auto &triangle = static_cast<const Triangle &>(shape);
  return {triangle.vertex0, triangle.edge1, triangle.edge2, position};
}

float intersectPrim(const BvhIntersector::Prim &prim, const Ray &ray) {
  if (prim.position & BvhIntersector::kSphereBit) {
    return intersectSphere(prim.a, prim.b.x, Shape::kEpsilon, ray);
  }
  return intersectTriangle(prim.a, prim.b, prim.c, Shape::kEpsilon, ray);
}

} // namespace

// What the slab test needs of one ray, in double.
struct BvhIntersector::RayBounds {
  double origin[3];
  double inverse[3];
  bool parallel[3]; // direction component is zero
  bool tiny;        // a component so small (not zero) that its float reciprocal could overflow
  double direction[3];
  double inverseLength; // 1 / (an upper bound of |d|)
  double perGap;        // kDeterminantInverse |d|: conditioning per unit of |e1| |e2|
  double perSphere;     // kSphere |o|
  double planeSlack;    // rounding of box planes and slab numerators
};

// The plane distances a shadow ray towards a point light may use.
struct BvhIntersector::LightPlanes {
  const float *overAspect = nullptr; // one per node; null: none
  double slack = 0.0;                // at least |o + d - light|
  // The light's set-aside prims, which the distances leave out.
  const std::uint32_t *setAside = nullptr;
  const std::uint32_t *setAsideEnd = nullptr;
};

namespace {

// What a light's table needs of a prim: at most the distance from the light
// to the plane of the triangle v0, v0 + e1, v0 + e2 (products of floats are
// exact in double; the few roundings stay far below the 2^-48 taken off), and
// about the conditioning of the triangle for shadow rays from near it towards
// the light. Spheres: infinitely far, conditioning 0; degenerate triangles: 0, 0.
struct LightFacts {
  float distance;
  double conditioning; // 0 when clearly not above kSetAsideConditioning
};

constexpr double kSetAsideConditioning = BvhIntersector::kSetAsideConditioning;

LightFacts lightFacts(const BvhIntersector::Prim &prim, const double light[3]) {
  if ((prim.position & BvhIntersector::kSphereBit) != 0) {
    return {INFINITY, 0.0};
  }
  const Vec3 &e1 = prim.b;
  const Vec3 &e2 = prim.c;
  double m[3];
  bvh::crossInDouble(e1, e2, m);
  const double mLength = std::sqrt(m[0] * m[0] + m[1] * m[1] + m[2] * m[2]);
  if (!(mLength > 0.0)) {
    return {0.0f, 0.0};
  }
  const double x[3] = {light[0] - prim.a.x, light[1] - prim.a.y, light[2] - prim.a.z};
  const double along = std::fabs(m[0] * x[0] + m[1] * x[1] + m[2] * x[2]);
  const double awayAbove = std::fabs(x[0]) + std::fabs(x[1]) + std::fabs(x[2]);
  const double distance = std::max(0.0, along / mLength * (1.0 - 0x1p-48) - 0x1p-48 * awayAbove);
  // Only large triangles far from the light can be badly conditioned.
  const double gapSquared = (double(e1.x) * e1.x + double(e1.y) * e1.y + double(e1.z) * e1.z) *
                            (double(e2.x) * e2.x + double(e2.y) * e2.y + double(e2.z) * e2.z);
  const double awaySquared = x[0] * x[0] + x[1] * x[1] + x[2] * x[2];
  const double threshold = bvh::kDeterminantInverse * bvh::kDeterminantInverse;
  if (!(threshold * awaySquared * gapSquared > kSetAsideConditioning * kSetAsideConditioning)) {
    return {bvh::floatBelow(distance), 0.0};
  }
  const double away = std::sqrt(awaySquared);
  const double gap = std::sqrt(gapSquared);
  return {bvh::floatBelow(distance),
          std::min(gap / mLength * away / distance, bvh::kDeterminantInverse * away * gap)};
}

} // namespace

void BvhIntersector::measureLightPlanes(const std::vector<Vec3> &lights, bool parallel) {
  for (const Vec3 &light : lights) {
    if (lights_.size() < kMaxLights && bvh::withinRange(light)) {
      lights_.push_back(light);
    }
  }
  lightPlanes_.assign(lights_.size() * nodes_.size(), 0.0f);
  setAsideFrom_.assign(1, 0);
  std::vector<float> withAll(lights_.empty() ? 0 : nodes_.size());
  for (std::size_t k = 0; k < lights_.size(); ++k) {
    const double light[3] = {lights_[k].x, lights_[k].y, lights_[k].z};
    // A triangle whose plane passes very near the light would keep, in every
    // node above it, a reach of kTriangleResidual C |o - v0|: above
    // kSetAsideConditioning, a sizeable part of the distance to the light.
    // When there are only a few, they are set aside and the distances leave
    // them out; setting aside only some would leave the others' reach.
    // The nearest plane distance below each node, first without them (in
    // `row`) and with every triangle; children follow their parent.
    float *row = lightPlanes_.data() + k * nodes_.size();
    // Over nodes_[begin, end), children first; `near` takes the candidates
    // for setting aside, up to one too many.
    const auto measure = [&](std::size_t begin, std::size_t end, std::vector<std::uint32_t> &near) {
      for (std::size_t n = end; n-- > begin;) {
        const Node &node = nodes_[n];
        if (!node.isLeaf()) {
          row[n] = std::min(row[n + 1], row[node.secondChild()]);
          withAll[n] = std::min(withAll[n + 1], withAll[node.secondChild()]);
          continue;
        }
        row[n] = withAll[n] = INFINITY;
        for (std::uint32_t i = node.firstPrim(); i < node.firstPrim() + node.primCount(); ++i) {
          const LightFacts facts = lightFacts(prims_[i], light);
          withAll[n] = std::min(withAll[n], facts.distance);
          if (facts.conditioning > kSetAsideConditioning && near.size() <= kMaxSetAside) {
            near.push_back(i);
          } else {
            row[n] = std::min(row[n], facts.distance);
          }
        }
      }
    };
    // The root's two subtrees may take a thread each. Their candidates join
    // in the order of one walk; `row` only counts when none was left out.
    std::vector<std::uint32_t> nearPlane;
    if (parallel && !nodes_[0].isLeaf()) {
      const std::size_t second = nodes_[0].secondChild();
      std::vector<std::uint32_t> nearFirst;
      inTwoThreads([&] { measure(1, second, nearFirst); },
                   [&] { measure(second, nodes_.size(), nearPlane); });
      nearPlane.insert(nearPlane.end(), nearFirst.begin(), nearFirst.end());
      measure(0, 1, nearPlane);
    } else {
      measure(0, nodes_.size(), nearPlane);
    }
    const bool setsAside = nearPlane.size() <= kMaxSetAside;
    if (setsAside) {
      setAside_.insert(setAside_.end(), nearPlane.begin(), nearPlane.end());
    }
    setAsideFrom_.push_back(std::uint32_t(setAside_.size()));
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
      const double nearest = setsAside ? row[n] : withAll[n];
      const std::uint8_t aspect = nodes_[n].aspect; // it bounds every triangle below
      row[n] = aspect == bvh::kAspectUnknown
                   ? 0.0f
                   : bvh::floatBelow(nearest / bvh::decodeAspect(aspect) * (1.0 - 0x1p-50));
    }
  }
}

// The light nearest the ray's end o + d, which is where the tracer puts it.
BvhIntersector::LightPlanes BvhIntersector::lightPlanesFor(const Ray &ray) const {
  if (lights_.empty()) {
    return {};
  }
  const double end[3] = {double(ray.origin.x) + ray.direction.x,
                         double(ray.origin.y) + ray.direction.y,
                         double(ray.origin.z) + ray.direction.z};
  std::size_t best = 0;
  double bestSquared = INFINITY;
  for (std::size_t k = 0; k < lights_.size(); ++k) {
    const double x = end[0] - lights_[k].x;
    const double y = end[1] - lights_[k].y;
    const double z = end[2] - lights_[k].z;
    const double squared = x * x + y * y + z * z;
    if (squared < bestSquared) {
      best = k;
      bestSquared = squared;
    }
  }
  // The end's sums round by at most 2^-53 of each coordinate.
  const double slack = std::sqrt(bestSquared) * (1.0 + 0x1p-40) +
                       0x1p-50 * (std::fabs(end[0]) + std::fabs(end[1]) + std::fabs(end[2]));
  return {lightPlanes_.data() + best * nodes_.size(), slack, setAside_.data() + setAsideFrom_[best],
          setAside_.data() + setAsideFrom_[best + 1]};
}

BvhIntersector::NodeReach BvhIntersector::reachOf(const Node &node) {
  NodeReach reach;
  reach.gap = float(bvh::decodeAbove(node.gap)); // exact: a float's top half
  reach.negligible = bvh::negligibleReachOf(node);
  if (!node.hasCone()) {
    reach.axisOverAspect = 0.0f;
    reach.spreadOverAspect = INFINITY;
    return reach;
  }
  const double q[3] = {double(node.coneAxis[0]), double(node.coneAxis[1]),
                       double(node.coneAxis[2])};
  const double axisLength = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2]);
  const double aspect = bvh::decodeAspect(node.aspect);
  // A few double roundings each, then rounded to a float the safe way.
  reach.axisOverAspect = bvh::floatBelow(1.0 / (axisLength * aspect) * (1.0 - 0x1p-50));
  reach.spreadOverAspect =
      bvh::floatAbove((node.coneSpread * bvh::kSpreadStep + 0x1p-40) / aspect * (1.0 + 0x1p-50));
  return reach;
}

namespace {

// An upper bound of |d| |e1| |e2| / |det| over the triangles below a node
// whose determinant passes the 0.01 threshold (docs/exact-acceleration.md,
// section 3): the threshold bound, or the normal cone's when it is smaller.
template <typename RayBounds>
double conditioningAbove(const BvhIntersector::Node &node, const BvhIntersector::NodeReach &reach,
                         const RayBounds &r) {
  double conditioning = r.perGap * reach.gap;
  // (|d.q| / (|q| |d|) - spread - 2^-40) / aspect - 2^-22; never positive without a cone.
  const double along =
      std::fabs(r.direction[0] * node.coneAxis[0] + r.direction[1] * node.coneAxis[1] +
                r.direction[2] * node.coneAxis[2]);
  const double slack = along * r.inverseLength * reach.axisOverAspect - reach.spreadOverAspect -
                       bvh::kDeterminantRounding;
  if (slack > 0.0) {
    conditioning = std::min(conditioning, 1.0 / slack);
  }
  return conditioning;
}

// The conditioning bound of a shadow ray towards a point light (0 < t < 1)
// for the triangles below a node: `conditioning` (conditioningAbove's), or
// the one from the light planes when smaller (docs/exact-acceleration.md,
// section 3). `overAspect` is at most (distance from a light to the nearest plane of a
// triangle below) / aspect bound, `lightSlack` at least the distance from the
// ray's end o + d to that light, `span` at least |o - v0|.
template <typename RayBounds>
double lightConditioning(double conditioning, float overAspect, double lightSlack,
                         const RayBounds &r, double span) {
  // The hit lies within this much (per unit of |d| A) of its plane, so the
  // plane's distance from o + d, less this, is at most |d.n|.
  const double offPlane =
      bvh::kPlaneOffset *
      ((span * (1.0 + bvh::kPlaneDrift * conditioning)) * r.inverseLength * (1.0 + 0x1p-30) + 1.0) *
      (1.0 + 0x1p-50);
  const double slack = (double(overAspect) - lightSlack) * r.inverseLength * (1.0 - 0x1p-50) -
                       (offPlane + bvh::kDeterminantRounding) * (1.0 + 0x1p-50);
  if (slack > 0.0) {
    return std::min(conditioning, 1.0 / slack * (1.0 + 0x1p-40));
  }
  return conditioning;
}

// At least |o - v0| for any triangle below: the box's farthest extent from o.
template <typename RayBounds>
double spanFrom(const BvhIntersector::Node &node, const RayBounds &r) {
  double spanSquared = 0.0;
  for (int a = 0; a < 3; ++a) {
    const double extent =
        std::max(std::fabs(r.origin[a] - node.lo[a]), std::fabs(r.origin[a] - node.hi[a]));
    spanSquared += extent * extent;
  }
  return std::sqrt(spanSquared);
}

// kTriangleResidual C span + the plane slack (+ kSphere |o|).
template <typename RayBounds>
double reachFor(const BvhIntersector::Node &node, double conditioning, double span,
                const RayBounds &r) {
  double reach = r.planeSlack + bvh::kTriangleResidual * conditioning * span * (1.0 + 0x1p-40);
  if (node.holdsSphere()) {
    reach += r.perSphere;
  }
  return reach * (1.0 + 0x1p-40);
}

// How far, at most, any shape below the node can report a hit from its box,
// for this ray.
template <typename RayBounds>
double ownReach(const BvhIntersector::Node &node, const BvhIntersector::NodeReach &nodeReach,
                const RayBounds &r) {
  const double span = spanFrom(node, r);
  return reachFor(node, conditioningAbove(node, nodeReach, r), span, r);
}

// Conservative slab test: false only if no point of the exactly computed ray
// line lies in the node's box grown by `reach`; otherwise `entry` is at or
// below the exact entry parameter.
template <typename RayBounds>
bool boxEnters(const BvhIntersector::Node &node, const RayBounds &r, double reach, double &entry) {
  double near = -INFINITY;
  double far = INFINITY;
  for (int a = 0; a < 3; ++a) {
    const double lo = double(node.lo[a]) - reach;
    const double hi = double(node.hi[a]) + reach;
    if (r.parallel[a]) {
      if (r.origin[a] < lo || r.origin[a] > hi) {
        return false;
      }
      continue;
    }
    double t0 = (lo - r.origin[a]) * r.inverse[a];
    double t1 = (hi - r.origin[a]) * r.inverse[a];
    if (t0 > t1) {
      std::swap(t0, t1);
    }
    near = std::max(near, t0);
    far = std::min(far, t1);
  }
  near -= std::fabs(near) * bvh::kSlabWidening;
  far += std::fabs(far) * bvh::kSlabWidening;
  entry = near;
  return near <= far && far >= 0.0;
}

// Tightens `reach`, which comes in valid for the node (its parent's: it
// bounds every shape below the parent, whose box holds this one), to the
// node's own when that is smaller; the node's own is not worked out when the
// inherited one is negligible against the box. True when it got smaller.
template <typename RayBounds>
bool tighten(const BvhIntersector::Node &node, const BvhIntersector::NodeReach &nodeReach,
             const RayBounds &r, double &reach, float negligibleScale = 1.0f) {
  if (!(reach > nodeReach.negligible * negligibleScale)) {
    return false;
  }
  const double own = ownReach(node, nodeReach, r);
  if (!(own < reach)) {
    return false;
  }
  reach = own;
  return true;
}

// The box test of the two-child tree, with the node's reach.
template <typename RayBounds>
bool enters(const BvhIntersector::Node &node, const BvhIntersector::NodeReach &nodeReach,
            const RayBounds &r, double &reach, double &entry) {
  tighten(node, nodeReach, r, reach);
  return boxEnters(node, r, reach, entry);
}

// A node waiting on the traversal stack, with a reach valid for it.
struct Pending {
  std::uint32_t node;
  double reach;
};

// A few shapes that span much of the scene, such as a floor under a mesh,
// are tested for every ray instead of being placed in the tree: it could cull
// them only for rays that miss everything else, and their size would make
// the error reach of every node above them large. Only in scenes big enough
// for the tree to matter, and only when few shapes span the scene.
constexpr std::size_t kSpanningShapesFrom = 64;
constexpr std::size_t kMostSpanningShapes = 8;

double largestExtent(const float lo[3], const float hi[3]) {
  return std::max({double(hi[0]) - lo[0], double(hi[1]) - lo[1], double(hi[2]) - lo[2]});
}

// Marks with `notPlaced` the boxes of shapes at least half as large as the
// scene along its largest extent; true when it marked any.
bool setAsideSceneSpanning(std::vector<BvhBuildBox> &boxes, std::uint32_t notPlaced) {
  float lo[3] = {INFINITY, INFINITY, INFINITY};
  float hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  std::size_t placed = 0;
  for (const BvhBuildBox &box : boxes) {
    if (box.id == notPlaced) {
      continue;
    }
    ++placed;
    for (int a = 0; a < 3; ++a) {
      lo[a] = std::min(lo[a], box.lo[a]);
      hi[a] = std::max(hi[a], box.hi[a]);
    }
  }
  if (placed < kSpanningShapesFrom) {
    return false;
  }
  const double half = 0.5 * largestExtent(lo, hi);
  std::vector<std::size_t> spanning;
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (boxes[i].id != notPlaced && largestExtent(boxes[i].lo, boxes[i].hi) >= half) {
      spanning.push_back(i);
      if (spanning.size() > kMostSpanningShapes) {
        return false;
      }
    }
  }
  for (const std::size_t i : spanning) {
    boxes[i].id = notPlaced;
  }
  return !spanning.empty();
}

} // namespace

double BvhIntersector::conditioningTowardsLight(std::uint32_t index, std::uint32_t prim,
                                                const Ray &ray, double span) const {
  RayBounds bounds;
  if (!usable(ray, bounds)) {
    return INFINITY;
  }
  const LightPlanes light = lightPlanesFor(ray);
  for (const std::uint32_t *i = light.setAside; i != light.setAsideEnd; ++i) {
    if (*i == prim) {
      return INFINITY;
    }
  }
  return lightConditioning(conditioningAbove(nodes_[index], reaches_[index], bounds),
                           light.overAspect ? light.overAspect[index] : 0.0f, light.slack, bounds,
                           span);
}

BvhIntersector::BvhIntersector(const Shape *list, const BvhOptions &options) : list_(list) {
  // Filled in list order; the prims are made in leaf order after the build,
  // so that no second copy of them is held while it runs. Large scenes work
  // on two threads where the work splits into independent halves.
  // One walk of the list, each step of which waits for memory. A scene's
  // shapes are made one after another in large blocks and the list runs from
  // the last made, so the shapes a few steps on usually lie just below: they
  // are asked for early (a hint only, harmless where it misses).
  std::vector<const Shape *> shapes;
  for (const Shape *shape = list; shape != nullptr; shape = shape->next) {
    __builtin_prefetch(
        reinterpret_cast<const void *>(reinterpret_cast<std::uintptr_t>(shape) - 1024));
    shapes.push_back(shape);
  }
  const std::size_t count = shapes.size();
  const bool parallel = count >= options.parallelBuildFrom;
  const auto inHalves = [parallel](std::size_t size, const auto &work) {
    if (parallel) {
      inTwoThreads([&] { work(0, size / 2); }, [&] { work(size / 2, size); });
    } else {
      work(0, size);
    }
  };

  // Every shape gets its slot; a box without an id marks one the hierarchy
  // does not take: beyond the 31 bits positions are kept in next to the
  // sphere flag, outside the error analysis, or spanning the scene. Those are
  // always tested.
  constexpr std::uint32_t kNotPlaced = 0xffffffffu;
  std::vector<std::uint32_t> positions(count); // with the sphere flag
  std::vector<BvhBuildBox> boxes(count);
  std::vector<BvhBuildItem> items(count);
  bool allPlaced = true;
  std::mutex halvesLock; // guards allPlaced and maxCoordinate_
  inHalves(count, [&](std::size_t begin, std::size_t end) {
    double largest = 0.0;
    bool placedAll = true;
    for (std::size_t i = begin; i < end; ++i) {
      Candidate candidate;
      const Shape &shape = *shapes[i];
      const bool placed =
          i < kSphereBit &&
          (shape.kind == Shape::Kind::Sphere
               ? candidateFor(static_cast<const Sphere &>(shape), std::uint32_t(i), candidate)
               : candidateFor(static_cast<const Triangle &>(shape), std::uint32_t(i), candidate));
      if (!placed) {
        boxes[i].id = kNotPlaced;
        placedAll = false;
        continue;
      }
      positions[i] = candidate.prim.position;
      boxes[i] = candidate.box;
      boxes[i].id = std::uint32_t(i);
      items[i] = candidate.item;
      for (int a = 0; a < 3; ++a) {
        largest = std::max({largest, std::fabs(double(candidate.box.lo[a])),
                            std::fabs(double(candidate.box.hi[a]))});
      }
    }
    const std::lock_guard<std::mutex> hold(halvesLock);
    maxCoordinate_ = std::max(maxCoordinate_, largest);
    allPlaced = allPlaced && placedAll;
  });
  if (setAsideSceneSpanning(boxes, kNotPlaced)) {
    allPlaced = false;
  }
  if (!allPlaced) {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      if (boxes[i].id == kNotPlaced) {
        alwaysTested_.push_back({shapes[i], std::uint32_t(i)});
        continue;
      }
      shapes[kept] = shapes[i];
      positions[kept] = positions[i];
      boxes[kept] = boxes[i];
      boxes[kept].id = std::uint32_t(kept);
      items[kept] = items[i];
      ++kept;
    }
    shapes.resize(kept);
    positions.resize(kept);
    boxes.resize(kept);
    items.resize(kept);
  }
  if (shapes.empty()) {
    return;
  }

  // Each temporary goes as soon as it has been used: a large scene's memory
  // then peaks no higher than with the finished hierarchy.
  std::vector<std::uint32_t> order = buildBvh(std::move(boxes), items, nodes_, options);
  std::vector<BvhBuildItem>().swap(items);
  // Within a leaf, prims in list order: the flat kernels keep the first slot
  // of equal parameters.
  for (const Node &node : nodes_) {
    if (node.isLeaf()) {
      const auto leaf = order.begin() + node.firstPrim();
      std::sort(leaf, leaf + node.primCount(), [&](std::uint32_t a, std::uint32_t b) {
        return (positions[a] & ~kSphereBit) < (positions[b] & ~kSphereBit);
      });
    }
  }
  prims_.resize(order.size());
  primShapes_.resize(order.size());
  inHalves(order.size(), [&](std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
      prims_[i] = primOf(*shapes[order[i]], positions[order[i]]);
      primShapes_[i] = shapes[order[i]];
    }
  });
  std::vector<std::uint32_t>().swap(order);
  std::vector<std::uint32_t>().swap(positions);
  std::vector<const Shape *>().swap(shapes);
  nodes_.shrink_to_fit();
  reaches_.resize(nodes_.size());
  const auto makeReaches = [&] {
    for (std::size_t n = 0; n < nodes_.size(); ++n) {
      reaches_[n] = reachOf(nodes_[n]);
    }
  };
  const auto makeWide = [&] {
#if defined(__SSE2__)
    if (options.wideNodes) {
      wide_ = collapseToWide(nodes_);
      if (options.leafLevel != SimdLevel::Scalar) {
        leafKernels_ = &kernelsFor(options.leafLevel);
        if (prims_.size() <= options.storedLeavesUpTo) {
          storeLeaves();
        }
      }
    }
#endif
  };
  if (parallel) {
    inTwoThreads(makeWide, makeReaches);
  } else {
    makeReaches();
    makeWide();
  }
  measureLightPlanes(options.pointLights, parallel);
  if (leafKernels_ != nullptr) {
    storeAlwaysTested();
  }
  makeLightBuffers(options);
}

void BvhIntersector::makeLightBuffers(const BvhOptions &options) {
  // Bins count their entries in 32 bits: at most 64 per prim and 4,096 more.
  // (prims + 1) / 2 > pixels: more than two prims per pixel.
  const bool tooFewPixels = options.pixels != 0 && (prims_.size() + 1) / 2 > options.pixels;
  if (nodes_.empty() || prims_.size() > options.lightBuffersUpTo || tooFewPixels ||
      prims_.size() > (std::size_t(1) << 25)) {
    return;
  }
  // Shadow rays start on shapes: the hierarchy's, or the always-tested ones.
  LightBuffer::Region from;
  std::copy(nodes_[0].lo, nodes_[0].lo + 3, from.lo);
  std::copy(nodes_[0].hi, nodes_[0].hi + 3, from.hi);
  const auto take = [&](const double lo[3], const double hi[3]) {
    for (int a = 0; a < 3; ++a) {
      if (!(std::fabs(lo[a]) <= bvh::kMaxCoordinate && std::fabs(hi[a]) <= bvh::kMaxCoordinate)) {
        return;
      }
    }
    for (int a = 0; a < 3; ++a) {
      from.lo[a] = std::min(from.lo[a], bvh::floatBelow(lo[a]));
      from.hi[a] = std::max(from.hi[a], bvh::floatAbove(hi[a]));
    }
  };
  for (const Listed &listed : alwaysTested_) {
    if (listed.shape->kind == Shape::Kind::Triangle) {
      const auto &triangle = static_cast<const Triangle &>(*listed.shape);
      const Vec3 &v0 = triangle.vertex0;
      const Vec3 &e1 = triangle.edge1;
      const Vec3 &e2 = triangle.edge2;
      const double p[3][3] = {{v0.x, v0.y, v0.z},
                              {double(v0.x) + e1.x, double(v0.y) + e1.y, double(v0.z) + e1.z},
                              {double(v0.x) + e2.x, double(v0.y) + e2.y, double(v0.z) + e2.z}};
      double lo[3];
      double hi[3];
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::min({p[0][a], p[1][a], p[2][a]});
        hi[a] = std::max({p[0][a], p[1][a], p[2][a]});
      }
      take(lo, hi);
    } else {
      const auto &sphere = static_cast<const Sphere &>(*listed.shape);
      const double r = std::fabs(double(sphere.radius));
      const double lo[3] = {sphere.center.x - r, sphere.center.y - r, sphere.center.z - r};
      const double hi[3] = {sphere.center.x + r, sphere.center.y + r, sphere.center.z + r};
      take(lo, hi);
    }
  }
  // Hit points stray from flat shapes by roundings: a zero-thickness box
  // would miss half of them.
  double extent = 0.0;
  for (int a = 0; a < 3; ++a) {
    extent = std::max(extent, double(from.hi[a]) - from.lo[a]);
  }
  for (int a = 0; a < 3; ++a) {
    const double margin =
        0x1p-10 * extent + 0x1p-20 * (std::fabs(from.lo[a]) + std::fabs(from.hi[a]));
    from.lo[a] = bvh::floatBelow(from.lo[a] - margin);
    from.hi[a] = bvh::floatAbove(from.hi[a] + margin);
  }
  // Direction lights first; with enough prims, every other light on a second thread.
  std::vector<std::pair<bool, Vec3>> lights;
  for (std::size_t k = 0; k < options.directionLights.size() && k < kMaxLights; ++k) {
    lights.emplace_back(false, options.directionLights[k]);
  }
  for (std::size_t k = 0; k < options.pointLights.size() && k < kMaxLights; ++k) {
    lights.emplace_back(true, options.pointLights[k]);
  }
  // The eye last.
  if (options.eyeBuffer) {
    lights.emplace_back(true, options.eye);
  }
  const bool fine = options.pixels / 32 >= prims_.size();
  std::vector<std::optional<LightBuffer>> made(lights.size());
  const auto makeEvery = [&](std::size_t first) {
    for (std::size_t k = first; k < lights.size(); k += 2) {
      try {
        made[k] = !lights[k].first
                      ? LightBuffer::towardsDirection(lights[k].second, prims_, from, fine)
                  : options.eyeBuffer && k + 1 == lights.size()
                      ? LightBuffer::fromEye(lights[k].second, prims_, from, fine)
                      : LightBuffer::towardsPoint(lights[k].second, prims_, from, fine);
      } catch (const std::bad_alloc &) {
        made[k].reset(); // that light's rays take the hierarchy
      }
    }
  };
  if (lights.size() > 1 && prims_.size() >= options.parallelLightBuffersFrom) {
    inTwoThreads([&] { makeEvery(1); }, [&] { makeEvery(0); });
  } else {
    makeEvery(0);
    makeEvery(1);
  }
  for (std::size_t k = 0; k < made.size(); ++k) {
    if (made[k]) {
      (options.eyeBuffer && k + 1 == made.size() ? eyeBuffer_ : lightBuffers_)
          .push_back(std::move(*made[k]));
    }
  }
}

BvhIntersector::~BvhIntersector() = default;

double BvhIntersector::conditioningBound(const Node &node, const Vec3 &direction) {
  RayBounds bounds;
  bounds.direction[0] = direction.x;
  bounds.direction[1] = direction.y;
  bounds.direction[2] = direction.z;
  const double length = bvh::lengthAbove(direction);
  bounds.inverseLength = 1.0 / length;
  bounds.perGap = bvh::kDeterminantInverse * length * (1.0 + 0x1p-40);
  return conditioningAbove(node, reachOf(node), bounds);
}

std::string BvhIntersector::treeFault() const {
  if (nodes_.empty()) {
    return prims_.empty() ? "" : "prims without nodes";
  }
  // Depth first, first child first: the leaves must meet the prims in order.
  std::vector<std::pair<std::uint32_t, int>> pending{{0, 1}};
  std::uint32_t nextPrim = 0;
  std::size_t visited = 0;
  while (!pending.empty()) {
    const auto [index, depth] = pending.back();
    pending.pop_back();
    ++visited;
    if (depth >= kStackSize) {
      return "node " + std::to_string(index) + " is deeper than the traversal stack";
    }
    const Node &node = nodes_[index];
    if (node.isLeaf()) {
      if (node.firstPrim() != nextPrim || node.primCount() > prims_.size() - nextPrim) {
        return "leaf " + std::to_string(index) + " does not continue the prims in order";
      }
      for (std::uint32_t i = nextPrim; i < nextPrim + node.primCount(); ++i) {
        if ((prims_[i].position & kSphereBit) != 0 && !node.holdsSphere()) {
          return "leaf " + std::to_string(index) + " holds a sphere it does not flag";
        }
      }
      nextPrim += node.primCount();
      continue;
    }
    for (const std::uint32_t child : {index + 1, node.secondChild()}) {
      if (child <= index || child >= nodes_.size()) {
        return "node " + std::to_string(index) + " has a child out of order";
      }
      const Node &inner = nodes_[child];
      for (int a = 0; a < 3; ++a) {
        if (!(inner.lo[a] >= node.lo[a] && inner.hi[a] <= node.hi[a])) {
          return "node " + std::to_string(child) + " is not inside its parent";
        }
      }
      if (inner.holdsSphere() && !node.holdsSphere()) {
        return "node " + std::to_string(index) + " does not flag its children's spheres";
      }
    }
    pending.push_back({node.secondChild(), depth + 1});
    pending.push_back({index + 1, depth + 1});
  }
  if (nextPrim != prims_.size() || visited != nodes_.size()) {
    return "the leaves do not partition the prims, or some nodes are unreachable";
  }
  // The wide nodes reach every prim once, each inner child after its parent.
  std::size_t wideVisited = 0;
  std::uint32_t widePrims = 0;
  std::vector<std::uint32_t> wideStack;
  if (!wide_.empty()) {
    wideStack.push_back(0);
  }
  while (!wideStack.empty() && wideVisited <= wide_.size()) {
    const std::uint32_t index = wideStack.back();
    wideStack.pop_back();
    ++wideVisited;
    const BvhWideNode &node = wide_[index];
    for (int lane = 0; lane < node.lanes; ++lane) {
      if (node.count[lane] > 0) {
        widePrims += node.count[lane];
      } else if (node.child[lane] <= index || node.child[lane] >= wide_.size()) {
        return "wide node " + std::to_string(index) + " has a child out of order";
      } else {
        wideStack.push_back(node.child[lane]);
      }
    }
  }
  if (!wide_.empty() && (wideVisited != wide_.size() || widePrims != prims_.size())) {
    return "the wide nodes do not reach every prim once";
  }
  // Every list position once, in the tree or in the always-tested list.
  const std::size_t count = prims_.size() + alwaysTested_.size();
  std::vector<bool> seen(count, false);
  const auto see = [&](std::uint32_t position) {
    if (position >= count || seen[position]) {
      return false;
    }
    seen[position] = true;
    return true;
  };
  for (const Prim &prim : prims_) {
    if (!see(prim.position & ~kSphereBit)) {
      return "list position " + std::to_string(prim.position & ~kSphereBit) + " held twice";
    }
  }
  for (const Listed &listed : alwaysTested_) {
    if (!see(listed.position)) {
      return "list position " + std::to_string(listed.position) + " held twice";
    }
  }
  return {};
}

std::size_t BvhIntersector::memoryBytes() const {
  return nodes_.capacity() * sizeof(Node) + reaches_.capacity() * sizeof(NodeReach) +
         lightPlanes_.capacity() * sizeof(float) +
         (setAside_.capacity() + setAsideFrom_.capacity()) * sizeof(std::uint32_t) +
         wide_.capacity() * sizeof(BvhWideNode) + prims_.capacity() * sizeof(Prim) +
         leafBlocks_.capacity() * sizeof(flat::TriangleBlock) +
         leafBlockAt_.capacity() * sizeof(std::uint32_t) +
         primShapes_.capacity() * sizeof(const Shape *) +
         alwaysTested_.capacity() * sizeof(Listed) +
         std::accumulate(lightBuffers_.begin(), lightBuffers_.end(), std::size_t(0),
                         [](std::size_t sum, const LightBuffer &buffer) {
                           return sum + buffer.memoryBytes();
                         }) +
         (eyeBuffer_.empty() ? 0 : eyeBuffer_[0].memoryBytes());
}

// Rays with non-finite or huge components, or a very short direction, are
// outside the error analysis.
bool BvhIntersector::usable(const Ray &ray, RayBounds &bounds) const {
  if (nodes_.empty() || !bvh::withinRange(ray.origin) || !bvh::withinRange(ray.direction)) {
    return false;
  }
  const double directionLength = bvh::lengthAbove(ray.direction);
  if (directionLength < bvh::kMinDirectionLength) {
    return false;
  }
  const double originLength = bvh::lengthAbove(ray.origin);
  const float o[3] = {ray.origin.x, ray.origin.y, ray.origin.z};
  const float d[3] = {ray.direction.x, ray.direction.y, ray.direction.z};
  bounds.tiny = false;
  for (int a = 0; a < 3; ++a) {
    bounds.origin[a] = o[a];
    bounds.direction[a] = d[a];
    bounds.parallel[a] = d[a] == 0.0f;
    bounds.tiny = bounds.tiny || (!bounds.parallel[a] && std::fabs(d[a]) < 0x1p-64f);
    bounds.inverse[a] = bounds.parallel[a] ? 0.0 : 1.0 / double(d[a]);
  }
  const double up = 1.0 + 0x1p-40;
  bounds.inverseLength = 1.0 / directionLength;
  bounds.perGap = bvh::kDeterminantInverse * directionLength * up;
  bounds.perSphere = bvh::kSphere * originLength * up;
  bounds.planeSlack = bvh::kPlaneRounding * (originLength + maxCoordinate_);
  return true;
}

bool BvhIntersector::wideUsable(const RayBounds &bounds) const {
  return !wide_.empty() && !bounds.tiny;
}

Hit BvhIntersector::nearest(const Ray &ray) const {
  TestCounts unused;
  return nearestIn<false>(ray, unused);
}

Hit BvhIntersector::nearest(const Ray &ray, TestCounts &counts) const {
  return nearestIn<true>(ray, counts);
}

bool BvhIntersector::blocked(const Ray &ray, ShadowQuery kind) const {
  TestCounts unused;
  return blockedIn<false>(ray, kind, unused);
}

bool BvhIntersector::blocked(const Ray &ray, ShadowQuery kind, TestCounts &counts) const {
  return blockedIn<true>(ray, kind, counts);
}

// The walk over two-child nodes, one box at a time, that both queries take
// when the four-lane test cannot: every child inherits its parent's reach.
// `beyond(entry)` drops a node the ray enters too late, `atShape(i)` offers
// prim i and says whether the walk is over, and `secondChildNearer(node)` says
// whether the second child is on the ray's near side. True when a shape
// ended the walk.
template <bool count, class Beyond, class AtShape, class SecondChildNearer>
bool BvhIntersector::walkOneBoxAtATime(const RayBounds &bounds, TestCounts &counts, Beyond beyond,
                                       AtShape atShape, SecondChildNearer secondChildNearer) const {
  Pending stack[kStackSize];
  int top = 0;
  stack[top++] = {0, INFINITY};
  while (top > 0) {
    const Pending pending = stack[--top];
    const Node &node = nodes_[pending.node];
    double reach = pending.reach;
    double entry = 0.0;
    if constexpr (count) {
      ++counts.boxes;
    }
    if (!enters(node, reaches_[pending.node], bounds, reach, entry) || beyond(entry)) {
      continue;
    }
    if (node.isLeaf()) {
      const std::uint32_t end = node.firstPrim() + node.primCount();
      for (std::uint32_t i = node.firstPrim(); i < end; ++i) {
        if constexpr (count) {
          ++counts.shapes;
        }
        if (atShape(i)) {
          return true;
        }
      }
      continue;
    }
    // The child on the ray's near side is pushed last, so visited first.
    const std::uint32_t first = pending.node + 1;
    const std::uint32_t second = node.secondChild();
    const bool swap = secondChildNearer(node);
    stack[top++] = {swap ? first : second, reach};
    stack[top++] = {swap ? second : first, reach};
  }
  return false;
}

template <bool count> Hit BvhIntersector::nearestIn(const Ray &ray, TestCounts &counts) const {
  if (!eyeBuffer_.empty()) {
    RankedHit best;
    const auto offer = [&](std::uint32_t i) {
      if constexpr (count) {
        ++counts.shapes;
      }
      const Prim &prim = prims_[i];
      best.offer(intersectPrim(prim, ray), prim.position & ~kSphereBit, primShapes_[i]);
    };
    // The always-tested shapes (a floor) first: their hit cuts the candidates short.
    const auto first = [&] {
      if (!alwaysTested_.empty()) {
        nearestAlwaysTested(ray, flat::RayConstants(ray, flat::RayConstants::Shapes::TrianglesOnly),
                            best);
      }
    };
    if (eyeBuffer_[0].nearest(ray, first, offer, [&] { return best.t; })) {
      return best.hit();
    }
  }
  RayBounds bounds;
  if (!usable(ray, bounds)) {
    return list_.nearest(ray);
  }
  RankedHit best;
  // Leaves and the always-tested blocks hold triangles only.
  const flat::RayConstants leafRay(ray, flat::RayConstants::Shapes::TrianglesOnly);
  nearestAlwaysTested(ray, leafRay, best);
  if (wideUsable(bounds)) {
    nearestWide<count>(ray, leafRay, bounds, best, counts);
    return best.hit();
  }
  const bool negative[3] = {ray.direction.x < 0.0f, ray.direction.y < 0.0f, ray.direction.z < 0.0f};
  walkOneBoxAtATime<count>(
      bounds, counts,
      // Equal entry and best may still hide an earlier list position.
      [&](double entry) { return entry > double(best.t); },
      [&](std::uint32_t i) {
        const Prim &prim = prims_[i];
        best.offer(intersectPrim(prim, ray), prim.position & ~kSphereBit, primShapes_[i]);
        return false;
      },
      [&](const Node &node) { return negative[node.splitAxis()]; });
  return best.hit();
}

template <ShadowQuery kind, bool count>
bool BvhIntersector::blockedInHierarchy(const Ray &ray, const RayBounds &bounds,
                                        TestCounts &counts) const {
  // Only hits below this parameter can block.
  constexpr double limit = kind == ShadowQuery::BeforeOne ? 1.0 : INFINITY;
  return walkOneBoxAtATime<count>(
      bounds, counts, [](double entry) { return entry >= limit; },
      [&](std::uint32_t i) { return blocks(intersectPrim(prims_[i], ray), kind); },
      [](const Node &) { return false; });
}

template <bool count>
bool BvhIntersector::blockedIn(const Ray &ray, ShadowQuery kind, TestCounts &counts) const {
  const flat::RayConstants leafRay(ray, flat::RayConstants::Shapes::TrianglesOnly);
  const auto test = [&](std::uint32_t i) {
    if constexpr (count) {
      ++counts.shapes;
    }
    return blocks(intersectPrim(prims_[i], ray), kind);
  };
  // A buffer's candidates several at a time through the leaf kernels: the
  // answer is whether any blocks, so the grouping cannot change it.
  const auto testFour = [&](const std::uint32_t *prims, int n) {
    if (leafKernels_ == nullptr || n == 1) {
      for (int k = 0; k < n; ++k) {
        if (test(prims[k])) {
          return true;
        }
      }
      return false;
    }
    if constexpr (count) {
      counts.shapes += n;
    }
    flat::TriangleBlock block;
    for (int lane = 0; lane < flat::kBlockLanes; ++lane) {
      // Unused lanes get zero edges, which never hit.
      const Prim *prim = lane < n ? &prims_[prims[lane]] : nullptr;
      block.store(lane, prim ? prim->a : Vec3(), prim ? prim->b : Vec3(), prim ? prim->c : Vec3());
    }
    return leafKernels_->anyTriangle(&block, 1, leafRay, kind) >= 0;
  };
  for (const LightBuffer &buffer : lightBuffers_) {
    const int answer = buffer.blocked(ray, kind, test, testFour);
    if (answer >= 0) {
      return answer == 1 || (!alwaysTested_.empty() && blockedByAlwaysTested(ray, leafRay, kind));
    }
  }
  RayBounds bounds;
  if (!usable(ray, bounds)) {
    return list_.blocked(ray, kind);
  }
  if (blockedByAlwaysTested(ray, leafRay, kind)) {
    return true;
  }
  if (wideUsable(bounds)) {
    if (kind == ShadowQuery::TowardsDirection) {
      return blockedWide<ShadowQuery::TowardsDirection, count>(ray, leafRay, bounds, {}, counts);
    }
    // The set-aside triangles first: the plane distances leave them out.
    const LightPlanes light = lightPlanesFor(ray);
    for (const std::uint32_t *i = light.setAside; i != light.setAsideEnd; ++i) {
      if constexpr (count) {
        ++counts.shapes;
      }
      if (blocks(intersectPrim(prims_[*i], ray), kind)) {
        return true;
      }
    }
    return blockedWide<ShadowQuery::BeforeOne, count>(ray, leafRay, bounds, light, counts);
  }
  return kind == ShadowQuery::BeforeOne
             ? blockedInHierarchy<ShadowQuery::BeforeOne, count>(ray, bounds, counts)
             : blockedInHierarchy<ShadowQuery::TowardsDirection, count>(ray, bounds, counts);
}

std::size_t BvhIntersector::copyLeaf(std::uint32_t first, std::uint32_t count,
                                     flat::TriangleBlock blocks[]) const {
  for (std::uint32_t slot = 0; slot < count; ++slot) {
    if ((prims_[first + slot].position & kSphereBit) != 0) {
      return 0;
    }
  }
  // Unused slots have zero edges, which never hit.
  const std::size_t blockCount = (count + flat::kBlockLanes - 1) / flat::kBlockLanes;
#if defined(__SSE2__)
  // Four prims at a time: a prim's first four floats (v0, e1.x) and the next
  // four (e1.y, e1.z, e2.x, e2.y) are read as rows and transposed into lanes.
  static_assert(offsetof(Prim, b) == 12 && offsetof(Prim, c) == 24 && flat::kBlockLanes == 4,
                "the rows below follow the prim layout");
  for (std::size_t b = 0; b < blockCount; ++b) {
    const Prim *prim = prims_.data() + first + b * flat::kBlockLanes;
    const std::size_t used =
        std::min<std::size_t>(flat::kBlockLanes, count - b * flat::kBlockLanes);
    __m128 front[4];
    __m128 back[4];
    alignas(16) float lastZ[4] = {};
    for (std::size_t lane = 0; lane < 4; ++lane) {
      if (lane < used) {
        front[lane] = _mm_loadu_ps(&prim[lane].a.x);
        back[lane] = _mm_loadu_ps(&prim[lane].b.y);
        lastZ[lane] = prim[lane].c.z;
      } else {
        front[lane] = back[lane] = _mm_setzero_ps();
      }
    }
    _MM_TRANSPOSE4_PS(front[0], front[1], front[2], front[3]);
    _MM_TRANSPOSE4_PS(back[0], back[1], back[2], back[3]);
    flat::TriangleBlock &block = blocks[b];
    _mm_store_ps(block.vertexX, front[0]);
    _mm_store_ps(block.vertexY, front[1]);
    _mm_store_ps(block.vertexZ, front[2]);
    _mm_store_ps(block.edge1X, front[3]);
    _mm_store_ps(block.edge1Y, back[0]);
    _mm_store_ps(block.edge1Z, back[1]);
    _mm_store_ps(block.edge2X, back[2]);
    _mm_store_ps(block.edge2Y, back[3]);
    _mm_store_ps(block.edge2Z, _mm_load_ps(lastZ));
  }
#else
  for (std::uint32_t slot = 0; slot < blockCount * flat::kBlockLanes; ++slot) {
    const int lane = int(slot % flat::kBlockLanes);
    if (slot < count) {
      const Prim &prim = prims_[first + slot];
      blocks[slot / flat::kBlockLanes].store(lane, prim.a, prim.b, prim.c);
    } else {
      blocks[slot / flat::kBlockLanes].store(lane, {}, {}, {});
    }
  }
#endif
  return blockCount;
}

namespace {

// The largest leaf, in blocks of the flat kernels.
constexpr std::size_t kLeafBlocks =
    (BvhIntersector::kCountMask + flat::kBlockLanes - 1) / flat::kBlockLanes;

// Leaves of fewer triangles are tested one at a time: measured, copying
// them into blocks costs about what the kernels save.
constexpr std::uint32_t kKernelLeafFrom = 3;

constexpr std::uint32_t kNotStored = 0xffffffffu;

} // namespace

void BvhIntersector::storeLeaves() {
  leafBlockAt_.assign(prims_.size(), kNotStored);
  flat::TriangleBlock scratch[kLeafBlocks];
  for (const Node &node : nodes_) {
    if (!node.isLeaf() || node.primCount() < kKernelLeafFrom) {
      continue;
    }
    const std::size_t blockCount = copyLeaf(node.firstPrim(), node.primCount(), scratch);
    if (blockCount > 0) {
      leafBlockAt_[node.firstPrim()] = std::uint32_t(leafBlocks_.size());
      leafBlocks_.insert(leafBlocks_.end(), scratch, scratch + blockCount);
    }
  }
}

const flat::TriangleBlock *BvhIntersector::leafInBlocks(std::uint32_t first, std::uint32_t count,
                                                        flat::TriangleBlock scratch[],
                                                        std::size_t &blockCount) const {
  if (count < kKernelLeafFrom || leafKernels_ == nullptr) {
    return nullptr;
  }
  if (!leafBlockAt_.empty()) {
    const std::uint32_t at = leafBlockAt_[first];
    if (at == kNotStored) {
      return nullptr;
    }
    blockCount = (count + flat::kBlockLanes - 1) / flat::kBlockLanes;
    return leafBlocks_.data() + at;
  }
  blockCount = copyLeaf(first, count, scratch);
  return blockCount > 0 ? scratch : nullptr;
}

void BvhIntersector::storeAlwaysTested() {
  std::stable_partition(alwaysTested_.begin(), alwaysTested_.end(), [](const Listed &listed) {
    return listed.shape->kind == Shape::Kind::Triangle;
  });
  for (const Listed &listed : alwaysTested_) {
    if (listed.shape->kind != Shape::Kind::Triangle) {
      break;
    }
    const auto &triangle = static_cast<const Triangle &>(*listed.shape);
    const std::size_t slot = alwaysTestedInBlocks_++;
    if (slot % flat::kBlockLanes == 0) {
      alwaysTestedBlocks_.emplace_back();
    }
    alwaysTestedBlocks_.back().store(int(slot % flat::kBlockLanes), triangle.vertex0,
                                     triangle.edge1, triangle.edge2);
  }
  // Unused slots have zero edges, which never hit.
  for (std::size_t slot = alwaysTestedInBlocks_; slot % flat::kBlockLanes != 0; ++slot) {
    alwaysTestedBlocks_.back().store(int(slot % flat::kBlockLanes), {}, {}, {});
  }
}

void BvhIntersector::nearestAlwaysTested(const Ray &ray, const flat::RayConstants &leafRay,
                                         RankedHit &best) const {
  if (!alwaysTestedBlocks_.empty()) {
    float t = kFarAway; // nothing is offered yet: below it, any hit is the nearest
    const long slot = leafKernels_->nearestTriangle(alwaysTestedBlocks_.data(),
                                                    alwaysTestedBlocks_.size(), leafRay, t);
    if (slot >= 0) {
      const Listed &listed = alwaysTested_[std::size_t(slot)];
      best.offer(t, listed.position, listed.shape);
    }
  }
  for (std::size_t i = alwaysTestedInBlocks_; i < alwaysTested_.size(); ++i) {
    const Listed &listed = alwaysTested_[i];
    best.offer(listed.shape->intersect(ray), listed.position, listed.shape);
  }
}

bool BvhIntersector::blockedByAlwaysTested(const Ray &ray, const flat::RayConstants &leafRay,
                                           ShadowQuery kind) const {
  if (!alwaysTestedBlocks_.empty() &&
      leafKernels_->anyTriangle(alwaysTestedBlocks_.data(), alwaysTestedBlocks_.size(), leafRay,
                                kind) >= 0) {
    return true;
  }
  for (std::size_t i = alwaysTestedInBlocks_; i < alwaysTested_.size(); ++i) {
    if (blocks(alwaysTested_[i].shape->intersect(ray), kind)) {
      return true;
    }
  }
  return false;
}

#if defined(__SSE2__)
namespace {

// The next float up from a parameter t >= 0 (+inf above the largest).
inline float nextUp(float t) {
  return std::bit_cast<float>(std::bit_cast<std::uint32_t>(t) + 1);
}

// Shadow rays towards point lights are long, so the reach a child is let in
// with can be large against the child. A child's own reach is worked out
// when it is popped; a leaf's box is then tested again with it when it is
// below kRetestShrink of the inherited one (an inner node's children are
// tested with it anyway: measured, retesting inner boxes cost more than it
// saved). A leaf's own reach (about as costly as testing its shapes) is
// worked out only when the inherited one exceeds kLeafRetest times its
// negligible reach.
constexpr double kRetestShrink = 0.25;
constexpr float kLeafRetest = 8.0f;

// Whether a child popped from the stack is still worth visiting after the
// test above; `reach` comes in as the inherited one and leaves tightened.
// `overAspect` and `lightSlack` are as for lightConditioning (0 and 0
// when the ray ends near no light).
template <typename RayBounds>
bool stillEnters(const BvhIntersector::Node &node, const BvhIntersector::NodeReach &nodeReach,
                 float overAspect, double lightSlack, bool leaf, const RayBounds &r, double &reach,
                 long long &boxTests) {
  const double inherited = reach;
  if (!(reach > nodeReach.negligible * (leaf ? kLeafRetest : 1.0f))) {
    return true;
  }
  // The light planes are worked out only where the other bounds leave a
  // reach that is not negligible against the node.
  const double span = spanFrom(node, r);
  double conditioning = conditioningAbove(node, nodeReach, r);
  if (reachFor(node, conditioning, span, r) > nodeReach.negligible * 0.125f) {
    conditioning = lightConditioning(conditioning, overAspect, lightSlack, r, span);
  }
  const double own = reachFor(node, conditioning, span, r);
  // Only a leaf's box is tested again (its shapes cost more than a box
  // test); an inner node's children are tested with its own reach anyway.
  if (!leaf || !(own < kRetestShrink * inherited)) {
    reach = std::min(reach, own);
    return true;
  }
  reach = own;
  ++boxTests;
  double entry = 0.0;
  return boxEnters(node, r, reach, entry) && entry < 1.0;
}

// A child waiting on the stack of the four-lane walk. Its reach is kept as
// a float at or above the one worked out (a larger reach is as valid), with
// what the lane test adds to the boxes for it.
struct WidePending {
  std::uint32_t index;  // wide node, or first prim
  std::uint32_t count;  // prims of a leaf; 0 for a wide node
  std::uint32_t binary; // the two-child node it stands for
  float entry;
  float reach;
  float grown;      // grownReach(reach)
  float negligible; // at or below the node's negligible reach
};

template <typename RayBounds> WideRay wideRay(const RayBounds &bounds, double maxCoordinate) {
  WideRay ray;
  double originMax = 0.0;
  ray.anyParallel = false;
  for (int a = 0; a < 3; ++a) {
    ray.origin[a] = _mm_set1_ps(float(bounds.origin[a]));
    ray.parallel[a] = bounds.parallel[a];
    ray.negative[a] = bounds.inverse[a] < 0.0;
    ray.anyParallel = ray.anyParallel || bounds.parallel[a];
    ray.inverse[a] = _mm_set1_ps(bounds.parallel[a] ? 0.0f : float(bounds.inverse[a]));
    originMax = std::max(originMax, std::fabs(bounds.origin[a]));
  }
  ray.planeSlack = 0x1p-22 * (maxCoordinate + originMax) * (1.0 + 0x1p-40);
  return ray;
}

// Child `lane` of `node`, entered at `entry`, inheriting `parent`'s reach.
inline WidePending childOf(const BvhWideNode &node, int lane, float entry,
                           const WidePending &parent) {
  return {node.child[lane], node.count[lane], node.binaryChild[lane],      entry,
          parent.reach,     parent.grown,     node.negligibleBelowOf(lane)};
}

// Tightens a popped child's reach; true when it got smaller, with `grown`
// updated to match.
template <typename RayBounds>
bool tightenWide(const BvhIntersector::Node &node, const BvhIntersector::NodeReach &nodeReach,
                 const RayBounds &bounds, const WideRay &lanes, float &reach, float &grown) {
  double tightened = reach;
  if (!tighten(node, nodeReach, bounds, tightened)) {
    return false;
  }
  reach = reachAbove(tightened);
  grown = grownReach(reach, lanes);
  return true;
}

// The lanes of `mask` ordered by entry, farthest first (equal entries: lower
// lane first), without branches on the entries: each key is the entry's
// bits made to order as unsigned integers, then the lane.
inline int farthestFirst(int mask, const float entries[BvhWideNode::kLanes],
                         int lanes[BvhWideNode::kLanes]) {
  std::uint64_t key[BvhWideNode::kLanes];
  int n = 0;
  for (int lane = 0; lane < BvhWideNode::kLanes; ++lane) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(entries[lane]);
    const std::uint32_t ordered = (bits & 0x80000000u) != 0 ? ~bits : bits | 0x80000000u;
    key[lane] = (mask >> lane & 1) != 0 ? std::uint64_t(ordered) << 32 | (3 - lane) : 0;
    n += mask >> lane & 1;
  }
  const auto order = [&](int i, int j) {
    const std::uint64_t a = key[i];
    const std::uint64_t b = key[j];
    key[i] = std::max(a, b);
    key[j] = std::min(a, b);
  };
  order(0, 1);
  order(2, 3);
  order(0, 2);
  order(1, 3);
  order(1, 2);
  for (int i = 0; i < BvhWideNode::kLanes; ++i) {
    lanes[i] = 3 - int(key[i] & 3);
  }
  return n;
}

} // namespace

void BvhIntersector::nearestInLeaf(const Ray &ray, const flat::RayConstants &leafRay,
                                   std::uint32_t first, std::uint32_t count,
                                   RankedHit &best) const {
  flat::TriangleBlock scratch[kLeafBlocks];
  std::size_t blockCount = 0;
  if (const flat::TriangleBlock *blocks = leafInBlocks(first, count, scratch, blockCount)) {
    // Hits at the best parameter too: one may be earlier in the list.
    float t = nextUp(best.t);
    const long slot = leafKernels_->nearestTriangle(blocks, blockCount, leafRay, t);
    if (slot >= 0) {
      const std::uint32_t i = first + std::uint32_t(slot);
      best.offer(t, prims_[i].position, primShapes_[i]);
    }
    return;
  }
  for (std::uint32_t i = first; i < first + count; ++i) {
    const Prim &prim = prims_[i];
    best.offer(intersectPrim(prim, ray), prim.position & ~kSphereBit, primShapes_[i]);
  }
}

template <bool count>
bool BvhIntersector::leafBlocks(const Ray &ray, const flat::RayConstants &leafRay,
                                std::uint32_t first, std::uint32_t shapes, ShadowQuery kind,
                                TestCounts &counts) const {
  flat::TriangleBlock scratch[kLeafBlocks];
  std::size_t blockCount = 0;
  if (const flat::TriangleBlock *leaf = leafInBlocks(first, shapes, scratch, blockCount)) {
    if constexpr (count) {
      counts.shapes += shapes;
    }
    return leafKernels_->anyTriangle(leaf, blockCount, leafRay, kind) >= 0;
  }
  for (std::uint32_t i = first; i < first + shapes; ++i) {
    if constexpr (count) {
      ++counts.shapes;
    }
    if (blocks(intersectPrim(prims_[i], ray), kind)) {
      return true;
    }
  }
  return false;
}

template <bool count>
void BvhIntersector::nearestWide(const Ray &ray, const flat::RayConstants &leafRay,
                                 const RayBounds &bounds, RankedHit &best,
                                 TestCounts &counts) const {
  const WideRay lanes = wideRay(bounds, maxCoordinate_);
  if (lanes.anyParallel) {
    nearestWideWith<count, true>(ray, leafRay, bounds, lanes, best, counts);
  } else {
    nearestWideWith<count, false>(ray, leafRay, bounds, lanes, best, counts);
  }
}

template <bool count, bool anyParallel>
void BvhIntersector::nearestWideWith(const Ray &ray, const flat::RayConstants &leafRay,
                                     const RayBounds &bounds, const WideRay &lanes, RankedHit &best,
                                     TestCounts &counts) const {
  WidePending stack[kWideStackSize];
  int top = 0;
  // The child visited now; the nearest child of a node is visited next
  // without going through the stack.
  WidePending at{0, 0, 0, -INFINITY, INFINITY, INFINITY, 0.0f};
  while (true) {
    if (at.count > 0) {
      if constexpr (count) {
        counts.shapes += at.count;
      }
      nearestInLeaf(ray, leafRay, at.index, at.count, best);
    } else {
      if (at.reach > at.negligible) {
        tightenWide(nodes_[at.binary], reaches_[at.binary], bounds, lanes, at.reach, at.grown);
      }
      const BvhWideNode &node = wide_[at.index];
      float entries[BvhWideNode::kLanes];
      int mask = enterFour<anyParallel>(node, lanes, at.grown, best.t, entries);
      if constexpr (count) {
        counts.boxes += node.lanes;
      }
      const auto child = [&](int lane) { return childOf(node, lane, entries[lane], at); };
      if (mask != 0) {
        const int first = std::countr_zero(unsigned(mask));
        mask &= mask - 1;
        if (mask == 0) {
          at = child(first);
          continue;
        }
        const int second = std::countr_zero(unsigned(mask));
        if ((mask & (mask - 1)) == 0) {
          // Two: the farther waits (at equal entries, the later lane).
          const bool swap = entries[second] < entries[first];
          stack[top++] = child(swap ? first : second);
          at = child(swap ? second : first);
          continue;
        }
        // More: the farthest waits deepest.
        int order[BvhWideNode::kLanes];
        const int passed = farthestFirst(mask | 1 << first, entries, order);
        for (int i = 0; i < passed - 1; ++i) {
          stack[top++] = child(order[i]);
        }
        at = child(order[passed - 1]);
        continue;
      }
    }
    // Equal entry and best may still hide an earlier list position.
    do {
      if (top == 0) {
        return;
      }
      at = stack[--top];
    } while (at.entry > best.t);
  }
}

template <ShadowQuery kind, bool count>
bool BvhIntersector::blockedWide(const Ray &ray, const flat::RayConstants &leafRay,
                                 const RayBounds &bounds, const LightPlanes &light,
                                 TestCounts &counts) const {
  const WideRay lanes = wideRay(bounds, maxCoordinate_);
  return lanes.anyParallel
             ? blockedWideWith<kind, count, true>(ray, leafRay, bounds, lanes, light, counts)
             : blockedWideWith<kind, count, false>(ray, leafRay, bounds, lanes, light, counts);
}

template <ShadowQuery kind, bool count, bool anyParallel>
bool BvhIntersector::blockedWideWith(const Ray &ray, const flat::RayConstants &leafRay,
                                     const RayBounds &bounds, const WideRay &lanes,
                                     const LightPlanes &light, TestCounts &counts) const {
  // Only children entered below this parameter can block: the largest float
  // below 1 towards a point light.
  constexpr float limit = kind == ShadowQuery::BeforeOne ? 0x1.fffffep-1f : INFINITY;
  WidePending stack[kWideStackSize];
  int top = 0;
  // The child visited now; the first child let in by a node is visited next
  // without going through the stack.
  WidePending at{0, 0, 0, -INFINITY, INFINITY, INFINITY, 0.0f};
  while (true) {
    bool visit = true;
    // A reach at or below the node's negligible one (for a leaf towards a
    // point light, kLeafRetest times it) is kept without reading the node.
    if constexpr (kind == ShadowQuery::BeforeOne) {
      if (at.reach > at.negligible * (at.count > 0 ? kLeafRetest : 1.0f)) {
        double reach = at.reach;
        const float overAspect = light.overAspect ? light.overAspect[at.binary] : 0.0f;
        visit = stillEnters(nodes_[at.binary], reaches_[at.binary], overAspect, light.slack,
                            at.count > 0, bounds, reach, counts.boxes);
        if (visit && reach != double(at.reach)) {
          at.reach = reachAbove(reach);
          at.grown = grownReach(at.reach, lanes);
        }
      }
    } else if (at.count == 0 && at.reach > at.negligible) {
      tightenWide(nodes_[at.binary], reaches_[at.binary], bounds, lanes, at.reach, at.grown);
    }
    if (visit && at.count > 0) {
      if (leafBlocks<count>(ray, leafRay, at.index, at.count, kind, counts)) {
        return true;
      }
    } else if (visit) {
      const BvhWideNode &node = wide_[at.index];
      float entries[BvhWideNode::kLanes];
      int mask = enterFour<anyParallel>(node, lanes, at.grown, limit, entries);
      if constexpr (count) {
        counts.boxes += node.lanes;
      }
      if (mask != 0) {
        // The last lane first, then the others from the last: the order of
        // pushing them all.
        const int first = 31 - std::countl_zero(unsigned(mask));
        mask &= ~(1 << first);
        while (mask != 0) {
          const int lane = std::countr_zero(unsigned(mask));
          mask &= mask - 1;
          stack[top++] = childOf(node, lane, entries[lane], at);
        }
        at = childOf(node, first, entries[first], at);
        continue;
      }
    }
    if (top == 0) {
      return false;
    }
    at = stack[--top];
  }
}
#else
template <bool count>
void BvhIntersector::nearestWide(const Ray &, const flat::RayConstants &, const RayBounds &,
                                 RankedHit &, TestCounts &) const {}
template <ShadowQuery kind, bool count>
bool BvhIntersector::blockedWide(const Ray &, const flat::RayConstants &, const RayBounds &,
                                 const LightPlanes &, TestCounts &) const {
  return false;
}
#endif
