// Every fast intersector against the list walk, one query at a time: the same
// shape, the same parameter bit for bit and the same shadow answers, on random
// and adversarial scenes and rays. A mismatch prints the scene and the ray.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <functional>
#include <iomanip>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "accel/ListIntersector.h"
#include "accel/bvh/BvhBuild.h"
#include "accel/bvh/BvhIntersector.h"
#include "accel/bvh/LightBuffer.h"
#include "accel/flat/FlatIntersector.h"
#include "geometry/Sphere.h"
#include "geometry/Triangle.h"
#include "random_scene.h"

namespace {

// The flat levels walk every shape, so they answer every eighth ray of the
// large families.
constexpr int kFlatEvery = 8;
constexpr std::uint64_t kTwoThreadsSeed = 32; // the family big enough for the parallel build

struct Candidate {
  std::string name;
  std::unique_ptr<Intersector> shapes;
  bool everyRay;
};

// The hierarchy's options for a scene's lights and eye (light buffers on).
BvhOptions toldTheLightsAndEye(const Scene &scene) {
  BvhOptions lit;
  for (const PointLight *light = scene.pointLights; light != nullptr; light = light->next) {
    lit.pointLights.push_back(light->position);
  }
  for (const DirectionLight *light = scene.directionLights; light != nullptr; light = light->next) {
    lit.directionLights.push_back(light->direction);
  }
  lit.eye = scene.eye;
  lit.eyeBuffer = true;
  return lit;
}

// Flat at every level this processor runs, and the hierarchy with its
// four-lane float node test (leaves tested by the flat kernels of each level,
// stored in their layout or copied as visited), with its one-box double test and, in lit scenes,
// told where the lights are, with light buffers (coarse and fine bins) and without.
std::vector<Candidate> fastIntersectors(const Scene &scene) {
  std::vector<Candidate> all;
  for (const auto &[level, name] : flatLevels()) {
    all.push_back({name, std::make_unique<FlatIntersector>(scene.shapes, level), false});
    all.push_back({"bvh, leaves " + name,
                   std::make_unique<BvhIntersector>(scene.shapes, BvhOptions{.leafLevel = level}),
                   true});
  }
  all.push_back({"bvh, leaves copied as visited",
                 std::make_unique<BvhIntersector>(scene.shapes, BvhOptions{.storedLeavesUpTo = 0}),
                 true});
  all.push_back({"bvh, one box at a time",
                 std::make_unique<BvhIntersector>(scene.shapes, BvhOptions{.wideNodes = false}),
                 true});
  BvhOptions lit = toldTheLightsAndEye(scene);
  if (!lit.pointLights.empty() || !lit.directionLights.empty()) {
    all.push_back({"bvh told the lights and the eye, with light buffers",
                   std::make_unique<BvhIntersector>(scene.shapes, lit), true});
    lit.pixels = std::size_t(1) << 40;
    all.push_back({"bvh told the lights and the eye, with finer light buffers",
                   std::make_unique<BvhIntersector>(scene.shapes, lit), true});
    lit.lightBuffersUpTo = 0;
    all.push_back({"bvh told the lights and the eye, without light buffers",
                   std::make_unique<BvhIntersector>(scene.shapes, lit), true});
  }
  return all;
}

std::ostream &operator<<(std::ostream &out, const Vec3 &v) {
  return out << v.x << " " << v.y << " " << v.z;
}

// The ray, and the shapes in file form (declaration order, the reverse of the list).
std::string describe(const Ray &ray, const Scene &scene) {
  const std::vector<const Shape *> shapes = shapeList(scene);
  std::ostringstream out;
  out.precision(9);
  out << "ray from " << ray.origin << " along " << ray.direction << "\nscene:\n";
  for (auto it = shapes.rbegin(); it != shapes.rend(); ++it) {
    if (const auto *t = dynamic_cast<const Triangle *>(*it)) {
      out << "triangle\n" << t->vertex0 << "\n" << t->vertex1 << "\n" << t->vertex2 << "\n";
    } else if (const auto *s = dynamic_cast<const Sphere *>(*it)) {
      out << "sphere\n" << s->center << "\n" << s->radius << "\n";
    }
  }
  return out.str();
}

struct Answers {
  Hit nearest;
  bool any;
  bool beforeOne;

  bool operator==(const Answers &o) const {
    return nearest.shape == o.nearest.shape &&
           std::bit_cast<std::uint32_t>(nearest.t) == std::bit_cast<std::uint32_t>(o.nearest.t) &&
           any == o.any && beforeOne == o.beforeOne;
  }
};

Answers ask(const Intersector &shapes, const Ray &ray) {
  return {shapes.nearest(ray), shapes.blocked(ray, ShadowQuery::TowardsDirection),
          shapes.blocked(ray, ShadowQuery::BeforeOne)};
}

std::ostream &operator<<(std::ostream &out, const Answers &a) {
  return out << "nearest t=" << a.nearest.t << " shape " << a.nearest.shape
             << ", blocked towards a direction " << a.any << ", blocked before 1 " << a.beforeOne;
}

// What a family's ray maker may look at: the scene, its list walk and its tree.
struct Probe {
  const Scene &scene;
  const std::vector<const Shape *> &shapes;
  const ListIntersector &list;
  const BvhIntersector &serial;
  float spread;
};

struct Family {
  const char *name;
  std::uint64_t seed;
  int scenes;
  int rays;     // per scene; past 100 cut by WORK_DIVISOR
  float spread; // random rays start up to this far from their aim
  std::function<void(RandomScene &, Scene &, int)> build; // also places the camera at scene.eye
  Ray (*ray)(RandomScene &, const Probe &, int);
};

Ray randomRay(RandomScene &random, const Probe &p, int) {
  return random.ray(p.shapes, p.list, p.scene.eye, p.spread);
}

// Shapes scattered `spread` around a point `distance` from the origin, and
// rays from up to `spread` away.
Family scattered(const char *name, std::uint64_t seed, float distance, float spread, float minSize,
                 float maxSize, int count, bool odd) {
  Family family{name, seed, 40, 3750, spread, nullptr, randomRay};
  family.build = [=](RandomScene &random, Scene &scene, int) {
    Vec3 centre = random.direction();
    normalize(centre);
    centre = scale(centre, distance);
    random.scatter(scene, centre, spread, minSize, maxSize, count, odd);
    scene.eye = random.chance(0.5f) ? Vec3() : random.inCube(centre, spread);
  };
  return family;
}

// Meshes whose sibling boxes share faces and whose shared edges give equal
// parameters in sibling leaves, odd shapes, and shapes on the coordinate limit
// of the error analysis (in the tree) and just past it (always tested).
void besideBoxFaces(RandomScene &random, Scene &scene, int s) {
  constexpr float kLimit = 0x1p20f;
  if (s % 3 == 0) {
    const Vec3 corner = random.inCube({0, 0, 0}, 8);
    random.addMesh(scene, corner, random.chance(0.5f) ? 1.0f : 0.25f, 8);
    return;
  }
  if (s % 3 == 1) {
    random.scatter(scene, {0, 0, 0}, 20, 0.05f, 5, 60, true);
    return;
  }
  const float side = s % 2 ? kLimit : -kLimit;
  const Vec3 corner(side, side - 16, side);
  for (int i = 0; i < 12; ++i) {
    const Vec3 a = add(corner, Vec3(-float(i), float(i), -2.0f * float(i)));
    scene.addTriangle(random.material(), a, add(a, {-4, 0, 0}), add(a, {0, 4, -4}));
    scene.addSphere(random.material(), add(corner, {-2.0f * float(i), 0, -1}), 1);
  }
  const float past = std::nextafter(side, 2 * side);
  scene.addSphere(random.material(), {past, 0, 0}, 2);
  scene.addTriangle(random.material(), {side, 0, 0}, {past, 1, 0}, {side, 0, 1});
}

// Starting on a face, an edge or a corner of a node's box or aimed at one,
// along directions with zero, subnormal (reciprocal beyond the float range)
// or huge components.
Ray fromBoxFaces(RandomScene &random, const Probe &p, int) {
  const std::vector<BvhIntersector::Node> &nodes = p.serial.nodes();
  const BvhIntersector::Node &node = nodes[std::size_t(random.whole(0, int(nodes.size()) - 1))];
  Vec3 onBox;
  Vec3 direction = random.direction();
  float *coordinates[] = {&onBox.x, &onBox.y, &onBox.z};
  float *components[] = {&direction.x, &direction.y, &direction.z};
  for (int a = 0; a < 3; ++a) {
    const float pick = random.unit();
    *coordinates[a] = pick < 0.4f   ? node.lo[a]
                      : pick < 0.8f ? node.hi[a]
                                    : node.lo[a] + random.unit() * (node.hi[a] - node.lo[a]);
    float &c = *components[a];
    const float kind = random.unit();
    c = kind < 0.2f ? 0.0f : kind < 0.3f ? 1e-40f * c : kind < 0.35f ? 1e19f * c : c;
  }
  return random.chance(0.5f)
             ? Ray(onBox, direction)
             : Ray(sub(onBox, direction), random.chance(0.5f) ? direction : scale(direction, 2));
}

// The flat kernels form o - centre and o - vertex0 in float; the scalar code
// rounds the double difference. These coordinates make it overflow, fall to a
// float subnormal, or round once in double and again in float.
constexpr float kOverflowing[] = {3.0e38f,         -3.0e38f, 1e-40f, -3e-41f,
                                  1.0f + 0x1p-23f, 0x1p-30f, 0.0f,   7.5f};
constexpr int kN = 8;
Vec3 overflowing(int k) {
  return {kOverflowing[k % kN], kOverflowing[(k + 3) % kN], kOverflowing[(k + 5) % kN]};
}

void overflowingShapes(RandomScene &, Scene &scene, int) {
  for (int k = 0; k < kN; ++k) { // five groups of four: an odd last group of every kind
    const Vec3 p = overflowing(k);
    scene.addSphere(Material(), p, k % 2 == 0 ? 1.0f : 1e38f);
    scene.addTriangle(Material(), p, add(p, {2, 0, 0}), add(p, {0, 2, 0}));
  }
  scene.addSphere(Material(), {0, 0, 0}, 0x1p-30f);
  scene.addTriangle(Material(), {-1, -1, 3}, {1, -1, 3}, {0, 1, 3});
}

// From every point to every other point and along +z and -z.
Ray betweenOverflowingPoints(RandomScene &, const Probe &, int r) {
  const int from = r / (kN + 2);
  const int to = r % (kN + 2);
  return Ray(overflowing(from), to < kN ? sub(overflowing(to), overflowing(from))
                                        : Vec3(0, 0, to == kN ? 1.0f : -1.0f));
}

// A sphere and a triangle both hit at t = 4 by the centre ray, declared in
// either order: the one first in the list wins.
void tieAcrossKinds(RandomScene &, Scene &scene, int s) {
  for (int i = 0; i < 5; ++i) { // spread over more than one block
    scene.addSphere(Material(), {10.0f + float(i), 0, 0}, 1);
  }
  for (int k = 0; k < 2; ++k) {
    if (k == s % 2) {
      scene.addSphere(Material(), {0, 0, -5}, 1);
    } else {
      scene.addTriangle(Material(), {-1, -1, -4}, {1, -1, -4}, {0, 1, -4});
    }
  }
}

// A bumpy ball, its triangles from a few hundredths to tens of units (grazing
// rays from far lights cross the 0.01 determinant threshold), lit by point
// lights in the planes of some of its triangles (on the silhouette each of
// them sees), a little off such a plane, or anywhere, 1 to 10^4 radii away.
void ballLitAtItsSilhouette(RandomScene &random, Scene &scene, int) {
  const float radius = random.logUniform(0.02f, 50.0f);
  scene.eye = random.inCube({0, 0, 0}, 100);
  RandomScene::addBall(scene, scene.eye, radius, random.whole(6, 15));
  const std::vector<const Shape *> shapes = shapeList(scene);
  for (int k = 0; k < 6; ++k) {
    const auto &from = static_cast<const Triangle &>(
        *shapes[std::size_t(random.whole(0, int(shapes.size()) - 1))]);
    const float far = radius * random.logUniform(1, 1e4f);
    const float off = k % 3 == 0   ? 0.0f
                      : k % 3 == 1 ? random.logUniform(1e-8f, 1e-3f)
                                   : random.unit();
    scene.addPointLight({1, 1, 1}, random.offPlaneOf(from, far, off));
  }
}

// Shadow rays as the tracer makes them (unnormalised, towards a point light)
// from a vertex, an edge or a face of a triangle (half of the time the one
// whose plane passes nearest the light) or from behind it, some ending a
// little off the light; every tenth a ray of any kind.
Ray towardsPointLights(RandomScene &random, const Probe &p, int r) {
  if (r % 10 == 0) {
    return randomRay(random, p, r);
  }
  std::vector<Vec3> lights;
  for (const PointLight *light = p.scene.pointLights; light != nullptr; light = light->next) {
    lights.push_back(light->position);
  }
  const Vec3 light = lights[std::size_t(random.whole(0, int(lights.size()) - 1))];
  // Half of the rays graze the triangle whose plane passes nearest the light.
  const Shape *aim = p.shapes[std::size_t(random.whole(0, int(p.shapes.size()) - 1))];
  if (r % 2 == 0) {
    double nearest = INFINITY;
    for (const Shape *shape : p.shapes) {
      const auto &t = static_cast<const Triangle &>(*shape);
      const double away = std::fabs(dot(t.normalAt(t.vertex0), sub(light, t.vertex0)));
      if (away < nearest) {
        nearest = away;
        aim = shape;
      }
    }
  }
  Vec3 on = random.pointOn(*aim);
  if (r % 4 == 0) { // beside it in its plane: a hit only by a large rounding error
    const auto &t = static_cast<const Triangle &>(*aim);
    const Vec3 &edge = random.chance(0.5f) ? t.edge1 : t.edge2;
    const float step = random.logUniform(1e-3f, 2);
    on = add(on, scale(edge, random.chance(0.5f) ? step : -step));
  }
  const Vec3 from =
      random.chance(0.5f) ? on : add(on, scale(sub(on, light), random.logUniform(1e-3f, 1)));
  Vec3 end = light;
  if (!random.chance(0.8f)) {
    const Vec3 away = random.direction();
    end = add(light, scale(away, random.logUniform(1e-6f, 1e-2f)));
  }
  return Ray(from, sub(end, from));
}

// A mesh over a floor, lit by direction lights (some along the mesh's rows,
// grazing its triangles) and by point lights near it, far from it or in the
// plane of one of its triangles.
void meshUnderLights(RandomScene &random, Scene &scene, int s) {
  const float cell = random.logUniform(0.05f, 5.0f);
  const Vec3 corner = random.inCube({0, 0, 0}, s % 2 ? 1e4f : 10.0f);
  random.addMesh(scene, corner, cell, random.whole(4, 14));
  const float f = 30 * cell;
  const Vec3 a = add(corner, {-f, -cell, -f});
  scene.addTriangle(Material(), a, add(a, {2 * f, 0, 0}), add(a, {0, 0, 2 * f}));
  scene.addTriangle(Material(), add(a, {2 * f, 0, 2 * f}), add(a, {0, 0, 2 * f}),
                    add(a, {2 * f, 0, 0}));
  const std::vector<const Shape *> shapes = shapeList(scene);
  for (int k = 0; k < 3; ++k) {
    const Vec3 along = k == 0 ? Vec3(1, 0, 0) : k == 1 ? Vec3(0, 1, 0) : random.direction();
    scene.addDirectionLight({1, 1, 1}, random.chance(0.5f) ? along : scale(along, -1));
    const auto &from = static_cast<const Triangle &>(
        *shapes[std::size_t(random.whole(0, int(shapes.size()) - 1))]);
    const float far = cell * random.logUniform(0.5f, 1e4f);
    scene.addPointLight({1, 1, 1}, random.offPlaneOf(from, far, k == 0 ? 0.0f : random.unit()));
  }
  scene.eye = random.inCube(corner, 20 * cell);
}

// Every third ray from the eye, aimed at a point on a shape (a vertex, an
// edge or inside) with a length of 1/4 to 4; the others shadow rays exactly
// as the tracer makes them, from where a random ray hits (or from a random
// point on a shape) towards a random light of the scene.
Ray fromHitPointsTowardsLights(RandomScene &random, const Probe &p, int r) {
  if (r % 3 == 0) {
    const Shape *aim = p.shapes[std::size_t(random.whole(0, int(p.shapes.size()) - 1))];
    Vec3 d = sub(random.pointOn(*aim), p.scene.eye);
    const float length = std::sqrt(dot(d, d));
    const float wanted = random.logUniform(0.25f, 4.0f);
    return Ray(p.scene.eye, length > 0.0f ? scale(d, wanted / length) : d);
  }
  const Ray seeing = randomRay(random, p, r);
  const Hit hit = p.list.nearest(seeing);
  const Shape *on = p.shapes[std::size_t(random.whole(0, int(p.shapes.size()) - 1))];
  const Vec3 from = hit.shape != nullptr ? add(seeing.origin, scale(seeing.direction, hit.t))
                                         : random.pointOn(*on);
  std::vector<Vec3> directions;
  for (const DirectionLight *light = p.scene.directionLights; light != nullptr;
       light = light->next) {
    directions.push_back(light->direction);
  }
  std::vector<Vec3> points;
  for (const PointLight *light = p.scene.pointLights; light != nullptr; light = light->next) {
    points.push_back(light->position);
  }
  if (random.chance(0.5f)) {
    return Ray(from, directions[std::size_t(random.whole(0, int(directions.size()) - 1))]);
  }
  return Ray(from, sub(points[std::size_t(random.whole(0, int(points.size()) - 1))], from));
}

const std::vector<Family> kFamilies = {
    {"LitScenesWithCoincidentShapes", 1, 40, 3750, 8,
     [](RandomScene &r, Scene &s, int) { r.fill(s); }, randomRay},
    scattered("SmallShapesNearTheOrigin", 2, 5, 10, 0.01f, 3, 60, false),
    scattered("ShapesTenThousandAway", 3, 1e4f, 50, 0.05f, 20, 60, false),
    scattered("TinyAndHugeShapes", 4, 100, 100, 1e-3f, 1e3f, 60, false),
    scattered("DegenerateDuplicatedAndNonFiniteShapes", 5, 20, 20, 0.05f, 5, 40, true),
    scattered("OddShapesFarFromTheOrigin", 6, 9000, 30, 0.1f, 10, 40, true),
    {"DenseMeshes", 7, 8, 18750, 10,
     [](RandomScene &r, Scene &s, int k) {
       const Vec3 corner = r.inCube({0, 0, 0}, 1e3f);
       const float cell = r.logUniform(0.2f, 5.0f);
       r.addMesh(s, corner, cell, 12);
       if (k % 2 == 1) { // a floor under it, which the tree sets aside
         const float f = 40 * cell;
         const Vec3 a = add(corner, {-f, -cell, -f});
         s.addTriangle(Material(), a, add(a, {2 * f, 0, 0}), add(a, {0, 0, 2 * f}));
         s.addTriangle(Material(), add(a, {2 * f, 0, 2 * f}), add(a, {0, 0, 2 * f}),
                       add(a, {2 * f, 0, 0}));
       }
       s.eye = r.inCube(corner, 20);
     },
     randomRay},
    {"RaysFromTheTreesOwnBoxes", 31, 30, 6000, 0, besideBoxFaces, fromBoxFaces},
    {"ShadowRaysTowardsLightsAtABallsSilhouette", 41, 20, 3000, 5, ballLitAtItsSilhouette,
     towardsPointLights},
    {"ShadowRaysFromHitPointsOnAMeshTowardsEveryLight", 42, 24, 6000, 20, meshUnderLights,
     fromHitPointsTowardsLights},
    {"OriginMinusShapeOverflowsOrRoundsTwice", 0, 1, kN *(kN + 2), 0, overflowingShapes,
     betweenOverflowingPoints},
    {"EqualParametersAcrossKinds", 0, 2, 1, 0, tieAcrossKinds,
     [](RandomScene &, const Probe &, int) {
       return Ray({0, 0, 0}, {0, 0, -1});
     }},
    {"ThreeThousandShapesWithDistinctMaterials", kTwoThreadsSeed, 1, 4000, 30,
     [](RandomScene &r, Scene &s, int) {
       r.fill(s);
       r.scatter(s, {0, 0, 0}, 30, 0.05f, 3, 3000, true);
     },
     randomRay},
};

void PrintTo(const Family &family, std::ostream *out) {
  *out << family.name;
}

class EveryIntersector : public testing::TestWithParam<Family> {};

template <typename T> bool sameBytes(const std::vector<T> &a, const std::vector<T> &b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

// Every scene's tree is sound, and built on two threads (for the scene of a
// few thousand shapes), or one box at a time rather than four, it has the
// very nodes and prims of the serial four-lane build.
TEST_P(EveryIntersector, AnswersAsTheShapeList) {
  const Family &family = GetParam();
  const int rays = family.rays > 100 ? family.rays / WORK_DIVISOR : family.rays;
  RandomScene random(family.seed);
  for (int s = 0; s < family.scenes; ++s) {
    Scene scene;
    family.build(random, scene, s);
    const std::vector<const Shape *> shapes = shapeList(scene);
    const ListIntersector list(scene.shapes);
    const BvhIntersector serial(scene.shapes, {.parallelBuildFrom = 0xffffffffu});
    const BvhIntersector parallel(scene.shapes, {.parallelBuildFrom = 1000});
    ASSERT_EQ(serial.treeFault(), "");
    ASSERT_EQ(parallel.hierarchyShapeCount() > 1000, family.seed == kTwoThreadsSeed);
#if defined(__SSE2__)
    EXPECT_TRUE(family.seed != kTwoThreadsSeed || serial.usesWideNodes());
#endif
    const BvhIntersector oneLane(scene.shapes,
                                 {.parallelBuildFrom = 0xffffffffu, .fourLaneBuild = false});
    for (const BvhIntersector *other : {&parallel, &oneLane}) {
      ASSERT_TRUE(sameBytes(other->nodes(), serial.nodes()));
      ASSERT_TRUE(sameBytes(other->prims(), serial.prims()));
      ASSERT_EQ(other->alwaysTestedCount(), serial.alwaysTestedCount());
    }
    std::vector<Candidate> candidates = fastIntersectors(scene);
    candidates.push_back({"bvh built on two threads", nullptr, true});
    const Probe probe{scene, shapes, list, serial, family.spread};
    for (int r = 0; r < rays; ++r) {
      const Ray ray = family.ray(random, probe, r);
      const Answers expected = ask(list, ray);
      for (const Candidate &candidate : candidates) {
        if (!candidate.everyRay && r % kFlatEvery != 0 && rays > 100) {
          continue;
        }
        const Answers actual = ask(
            candidate.shapes ? *candidate.shapes : static_cast<const Intersector &>(parallel), ray);
        ASSERT_TRUE(actual == expected) << std::setprecision(9) << candidate.name << ": " << actual
                                        << "\nlist: " << expected << "\n"
                                        << describe(ray, scene);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, EveryIntersector, testing::ValuesIn(kFamilies),
                         [](const testing::TestParamInfo<Family> &info) {
                           return std::string(info.param.name);
                         });

// Nodes of many thousand shapes are binned along their widest axis alone:
// there too, four lanes at a time or one box at a time, the tree is the same.
// On two threads, so are the lights' tables, with triangles set aside in
// both halves of the tree (their planes pass just by a light).
TEST(BvhIntersector, LargeNodesBuildTheSameTreeFourLanesAtATime) {
  Scene scene;
  RandomScene random(5);
  random.scatter(scene, {0, 0, 0}, 60, 0.05f, 3, 12000, true);
  random.addMesh(scene, {-30, -2, -30}, 0.5f, 80); // 12800 triangles sharing edges
  for (const float x : {-40.0f, 40.0f}) {
    scene.addTriangle(Material(), {x, 5.0001f, -20}, {x + 20, 5.0001f, 20}, {x - 20, 5.0001f, 20});
  }
  const std::vector<Vec3> lights = {{0, 5, 0}, {10, 20, 10}};
  const BvhIntersector fourLanes(scene.shapes,
                                 {.parallelBuildFrom = 0xffffffffu, .pointLights = lights});
  const BvhIntersector oneLane(
      scene.shapes,
      {.parallelBuildFrom = 0xffffffffu, .fourLaneBuild = false, .pointLights = lights});
  const BvhIntersector twoThreads(scene.shapes, {.parallelBuildFrom = 1000, .pointLights = lights});
  ASSERT_GT(fourLanes.hierarchyShapeCount(), 20000u);
  for (const BvhIntersector *other : {&oneLane, &twoThreads}) {
    EXPECT_TRUE(sameBytes(other->nodes(), fourLanes.nodes()));
    EXPECT_TRUE(sameBytes(other->prims(), fourLanes.prims()));
    EXPECT_TRUE(sameBytes(other->lightPlanes(), fourLanes.lightPlanes()));
    EXPECT_EQ(other->setAsideCount(), fourLanes.setAsideCount());
  }
  EXPECT_GE(fourLanes.setAsideCount(), 2u); // the two placed, and any random ones
}

// Otherwise the light-buffer comparisons above could pass with every shadow
// ray taking the hierarchy: nearly every light gets a buffer (one whose plane
// holds many triangles may not), and the shadow rays the tracer makes from the
// mesh and its floor, and the rays from the eye, are then answered without a
// box test.
TEST(BvhIntersector, AnswersTheTracersShadowRaysFromLightBuffers) {
  RandomScene random(43);
  std::size_t buffers = 0;
  int boxed = 0;
  constexpr int kScenes = 6;
  constexpr int kRays = 400;
  for (int s = 0; s < kScenes; ++s) {
    Scene scene;
    meshUnderLights(random, scene, s);
    const std::vector<const Shape *> shapes = shapeList(scene);
    const BvhIntersector hierarchy(scene.shapes, toldTheLightsAndEye(scene));
    buffers += hierarchy.lightBuffers().size() + hierarchy.eyeBuffer().size();
    const ListIntersector list(scene.shapes);
    const Probe probe{scene, shapes, list, hierarchy, 20};
    for (int r = 0; r < kRays; ++r) {
      const Ray ray = fromHitPointsTowardsLights(random, probe, r);
      const bool towardsPoint =
          std::fabs(ray.direction.x * ray.direction.x + ray.direction.y * ray.direction.y +
                    ray.direction.z * ray.direction.z - 1.0f) > 1e-3f;
      BvhIntersector::TestCounts counts;
      if (r % 3 == 0) {
        hierarchy.nearest(ray, counts);
      } else {
        hierarchy.blocked(
            ray, towardsPoint ? ShadowQuery::BeforeOne : ShadowQuery::TowardsDirection, counts);
      }
      boxed += counts.boxes > 0;
    }
  }
  EXPECT_GE(buffers, 7u * kScenes - 2);
  EXPECT_LE(boxed, kScenes * kRays / 8);
}

// Centroids a subnormal distance apart would overflow the bins' scale: that
// axis is left out, four lanes at a time and one box at a time alike.
TEST(BvhIntersector, CentroidsASubnormalDistanceApartBuildOneTree) {
  std::vector<BvhBuildBox> boxes;
  std::vector<BvhBuildItem> items;
  for (std::uint32_t i = 0; i < 12; ++i) {
    const float x = float(i) * 1e-40f;
    boxes.push_back({{x, 0, 0}, {x, 1, 1}, i});
    items.push_back({1.0f, 1.0f, {0, 0, 1}, false});
  }
  std::vector<BvhIntersector::Node> fourLanes;
  std::vector<BvhIntersector::Node> oneLane;
  const std::vector<std::uint32_t> order = buildBvh(boxes, items, fourLanes, {});
  EXPECT_EQ(buildBvh(boxes, items, oneLane, {.fourLaneBuild = false}), order);
  EXPECT_TRUE(sameBytes(oneLane, fourLanes));
}

// Otherwise the comparisons above could pass with every shape in the list
// walk. Shapes spanning the scene are set aside, but only a few of them.
TEST(BvhIntersector, AlwaysTestsOnlyShapesOutsideTheErrorAnalysisOrSpanningTheScene) {
  Scene scene;
  scene.addSphere(Material(), {0, 0, -5}, 1.0f);
  scene.addSphere(Material(), {0, 0, -5}, std::numeric_limits<float>::infinity());
  scene.addTriangle(Material(), {1e30f, 0, 0}, {0, 1, 0}, {0, 0, 1});
  EXPECT_EQ(BvhIntersector(scene.shapes).hierarchyShapeCount(), 1u);
  EXPECT_EQ(BvhIntersector(scene.shapes).alwaysTestedCount(), 2u);
  RandomScene random(1);
  random.addMesh(scene, {0, 0, 0}, 1, 6); // 72 triangles
  for (int floors = 1; floors <= 9; ++floors) {
    scene.addTriangle(Material(), {-20, -1, -20}, {20, -1, -20}, {0, -1, 20});
    const BvhIntersector hierarchy(scene.shapes);
    EXPECT_EQ(hierarchy.alwaysTestedCount(), floors <= 8 ? 2u + floors : 2u) << floors;
    EXPECT_EQ(hierarchy.treeFault(), "");
  }
}

#if defined(__x86_64__)
// Otherwise the SIMD levels above would be skipped without notice.
TEST(FlatIntersector, RunsTheWidestKernelsTheProcessorHas) {
  const Scene scene;
  EXPECT_EQ(FlatIntersector(scene.shapes).level(),
            __builtin_cpu_supports("avx2") ? SimdLevel::Avx2 : SimdLevel::Sse2);
}
#endif

} // namespace
