// Every fast intersector against the list walk, one query at a time: the same
// shape, the same parameter bit for bit and the same shadow answers, on random
// and adversarial scenes and rays. A mismatch prints the scene and the ray.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "accel/ListIntersector.h"
#include "accel/bvh/BvhIntersector.h"
#include "accel/flat/FlatIntersector.h"
#include "geometry/Sphere.h"
#include "geometry/Triangle.h"
#include "random_scene.h"

namespace {

// Seven families of 150,000 rays each: the hierarchy answers over a million
// rays (each asked all three queries) in an optimised build. The flat levels
// walk every shape, so they answer every eighth ray.
constexpr int kRaysPerFamily = 150000 / WORK_DIVISOR;
constexpr int kFlatEvery = 8;

struct Candidate {
  const char *name;
  std::unique_ptr<Intersector> shapes;
  bool everyRay;
};

// Flat at every level this processor runs, and the hierarchy with its
// four-lane float node test and with its one-box double test.
std::vector<Candidate> fastIntersectors(const Scene &scene) {
  std::vector<Candidate> all;
  const std::pair<SimdLevel, const char *> levels[] = {{SimdLevel::Scalar, "flat scalar"},
                                                       {SimdLevel::Sse2, "flat SSE2"},
                                                       {SimdLevel::Avx2, "flat AVX2"}};
  for (const auto &[level, name] : levels) {
    if (level <= supportedSimdLevel()) {
      all.push_back({name, std::make_unique<FlatIntersector>(scene.shapes, level), false});
    }
  }
  all.push_back({"bvh", std::make_unique<BvhIntersector>(scene.shapes), true});
  all.push_back({"bvh, one box at a time",
                 std::make_unique<BvhIntersector>(scene.shapes, BvhOptions{.wideNodes = false}),
                 true});
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

struct Family {
  const char *name;
  std::uint64_t seed;
  int scenes;
  float spread;                          // rays start up to this far from their aim
  void (*build)(RandomScene &, Scene &); // also places the camera at scene.eye
};

void scattered(RandomScene &random, Scene &scene, float distance, float spread, float minSize,
               float maxSize, int count, bool odd) {
  Vec3 centre = random.direction();
  normalize(centre);
  centre = scale(centre, distance);
  random.scatter(scene, centre, spread, minSize, maxSize, count, odd);
  scene.eye = random.chance(0.5f) ? Vec3() : random.inCube(centre, spread);
}

const Family kFamilies[] = {
    {"LitScenesWithCoincidentShapes", 1, 40, 8, [](RandomScene &r, Scene &s) { r.fill(s); }},
    {"SmallShapesNearTheOrigin", 2, 40, 10,
     [](RandomScene &r, Scene &s) { scattered(r, s, 5, 10, 0.01f, 3, 60, false); }},
    {"ShapesTenThousandAway", 3, 40, 50,
     [](RandomScene &r, Scene &s) { scattered(r, s, 1e4f, 50, 0.05f, 20, 60, false); }},
    {"TinyAndHugeShapes", 4, 40, 100,
     [](RandomScene &r, Scene &s) { scattered(r, s, 100, 100, 1e-3f, 1e3f, 60, false); }},
    {"DegenerateDuplicatedAndNonFiniteShapes", 5, 40, 20,
     [](RandomScene &r, Scene &s) { scattered(r, s, 20, 20, 0.05f, 5, 40, true); }},
    {"OddShapesFarFromTheOrigin", 6, 40, 30,
     [](RandomScene &r, Scene &s) { scattered(r, s, 9000, 30, 0.1f, 10, 40, true); }},
    {"DenseMeshes", 7, 8, 10,
     [](RandomScene &r, Scene &s) {
       const Vec3 corner = r.inCube({0, 0, 0}, 1e3f);
       r.addMesh(s, corner, r.logUniform(0.2f, 5.0f), 12);
       s.eye = r.inCube(corner, 20);
     }},
};

void PrintTo(const Family &family, std::ostream *out) {
  *out << family.name;
}

class EveryIntersectorOnRandomRays : public testing::TestWithParam<Family> {};

TEST_P(EveryIntersectorOnRandomRays, AnswersAsTheShapeList) {
  const Family &family = GetParam();
  RandomScene random(family.seed);
  for (int s = 0; s < family.scenes; ++s) {
    Scene scene;
    family.build(random, scene);
    const std::vector<const Shape *> shapes = shapeList(scene);
    const ListIntersector list(scene.shapes);
    const std::vector<Candidate> candidates = fastIntersectors(scene);
    for (int r = 0; r < kRaysPerFamily / family.scenes; ++r) {
      const Ray ray = random.ray(shapes, list, scene.eye, family.spread);
      const Answers expected = ask(list, ray);
      for (const Candidate &candidate : candidates) {
        if (!candidate.everyRay && r % kFlatEvery != 0) {
          continue;
        }
        const Answers actual = ask(*candidate.shapes, ray);
        ASSERT_TRUE(actual == expected) << std::setprecision(9) << candidate.name << ": " << actual
                                        << "\nlist: " << expected << "\n"
                                        << describe(ray, scene);
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Families, EveryIntersectorOnRandomRays, testing::ValuesIn(kFamilies),
                         [](const testing::TestParamInfo<Family> &info) {
                           return std::string(info.param.name);
                         });

TEST(EveryIntersector, GivesEqualParametersToTheShapeFirstInTheListAcrossKinds) {
  // A sphere and a triangle both hit at t = 4 by the centre ray: whichever
  // was declared later comes first in the list and wins.
  for (const bool triangleLast : {true, false}) {
    Scene scene;
    for (int i = 0; i < 5; ++i) { // spread over more than one block
      scene.addSphere(Material(), {10.0f + float(i), 0, 0}, 1);
    }
    if (triangleLast) {
      scene.addSphere(Material(), {0, 0, -5}, 1);
      scene.addTriangle(Material(), {-1, -1, -4}, {1, -1, -4}, {0, 1, -4});
    } else {
      scene.addTriangle(Material(), {-1, -1, -4}, {1, -1, -4}, {0, 1, -4});
      scene.addSphere(Material(), {0, 0, -5}, 1);
    }
    for (const Candidate &candidate : fastIntersectors(scene)) {
      const Hit hit = candidate.shapes->nearest(Ray({0, 0, 0}, {0, 0, -1}));
      EXPECT_EQ(hit.t, 4.0f) << candidate.name;
      EXPECT_EQ(hit.shape, scene.shapes) << candidate.name;
    }
  }
}

TEST(EveryIntersector, AnswersAsTheShapeListWhereOriginMinusShapeOverflowsOrRoundsTwice) {
  // The flat kernels form o - centre and o - vertex0 in float; the scalar
  // code rounds the double difference. These coordinates make it overflow,
  // fall to a float subnormal, or round once in double and again in float.
  const float values[] = {3.0e38f,         -3.0e38f, 1e-40f, -3e-41f,
                          1.0f + 0x1p-23f, 0x1p-30f, 0.0f,   7.5f};
  const int n = 8;
  const auto point = [&](int k) {
    return Vec3(values[k % n], values[(k + 3) % n], values[(k + 5) % n]);
  };
  Scene scene;
  for (int k = 0; k < n; ++k) { // five groups of four: an odd last group of every kind
    scene.addSphere(Material(), point(k), k % 2 == 0 ? 1.0f : 1e38f);
    scene.addTriangle(Material(), point(k), add(point(k), {2, 0, 0}), add(point(k), {0, 2, 0}));
  }
  scene.addSphere(Material(), {0, 0, 0}, 0x1p-30f);
  scene.addTriangle(Material(), {-1, -1, 3}, {1, -1, 3}, {0, 1, 3});
  const ListIntersector list(scene.shapes);
  const std::vector<Candidate> candidates = fastIntersectors(scene);
  for (int from = 0; from < n; ++from) {
    for (int to = 0; to < n + 2; ++to) {
      const Vec3 towards =
          to < n ? sub(point(to), point(from)) : Vec3(0, 0, to == n ? 1.0f : -1.0f);
      const Ray ray(point(from), towards);
      const Answers expected = ask(list, ray);
      for (const Candidate &candidate : candidates) {
        const Answers actual = ask(*candidate.shapes, ray);
        ASSERT_TRUE(actual == expected) << std::setprecision(9) << candidate.name << ": " << actual
                                        << "\nlist: " << expected << "\n"
                                        << describe(ray, scene);
      }
    }
  }
}

// Rays made from the hierarchy's own boxes: starting on a face, an edge or a
// corner of a node's box or aimed at one, along directions with zero,
// subnormal (reciprocal beyond the float range) or huge components; meshes
// whose sibling boxes share faces and whose shared edges give equal
// parameters in sibling leaves; shapes on the coordinate limit of the error
// analysis (in the tree) and just past it (always tested). Every tree built
// also passes the tree check.
TEST(BvhIntersector, AnswersAsTheShapeListOnRaysMadeFromItsOwnBoxes) {
  RandomScene random(31);
  constexpr float kLimit = 0x1p20f;
  for (int s = 0; s < 30; ++s) {
    Scene scene;
    if (s % 3 == 0) {
      random.addMesh(scene, random.inCube({0, 0, 0}, 8), random.chance(0.5f) ? 1.0f : 0.25f, 8);
    } else if (s % 3 == 1) {
      random.scatter(scene, {0, 0, 0}, 20, 0.05f, 5, 60, true);
    } else {
      const float side = s % 2 ? kLimit : -kLimit;
      const Vec3 corner(side, side - 16, side);
      for (int i = 0; i < 12; ++i) {
        const Vec3 a = add(corner, Vec3(-float(i), float(i), -2.0f * float(i)));
        scene.addTriangle(random.material(), a, add(a, {-4, 0, 0}), add(a, {0, 4, -4}));
        scene.addSphere(random.material(), add(corner, {-2.0f * float(i), 0, -1}), 1);
      }
      scene.addSphere(random.material(), {std::nextafter(side, 2 * side), 0, 0}, 2);
      scene.addTriangle(random.material(), {side, 0, 0}, {std::nextafter(side, 2 * side), 1, 0},
                        {side, 0, 1});
    }
    const BvhIntersector hierarchy(scene.shapes);
    const BvhIntersector oneBoxAtATime(scene.shapes, {.wideNodes = false});
    ASSERT_EQ(hierarchy.treeFault(), "");
    const std::vector<BvhIntersector::Node> &nodes = hierarchy.nodes();
    const ListIntersector list(scene.shapes);
    for (int r = 0; r < 6000 / WORK_DIVISOR; ++r) {
      const BvhIntersector::Node &node = nodes[std::size_t(random.whole(0, int(nodes.size()) - 1))];
      Vec3 onBox;
      float *coordinates[] = {&onBox.x, &onBox.y, &onBox.z};
      for (int a = 0; a < 3; ++a) {
        const float pick = random.unit();
        *coordinates[a] = pick < 0.4f   ? node.lo[a]
                          : pick < 0.8f ? node.hi[a]
                                        : node.lo[a] + random.unit() * (node.hi[a] - node.lo[a]);
      }
      Vec3 direction = random.direction();
      float *components[] = {&direction.x, &direction.y, &direction.z};
      for (float *c : components) {
        const float pick = random.unit();
        *c = pick < 0.2f ? 0.0f : pick < 0.3f ? 1e-40f * *c : pick < 0.35f ? 1e19f * *c : *c;
      }
      const Ray ray =
          random.chance(0.5f)
              ? Ray(onBox, direction)
              : Ray(sub(onBox, direction), random.chance(0.5f) ? direction : scale(direction, 2));
      const Answers expected = ask(list, ray);
      const Answers actual = ask(hierarchy, ray);
      ASSERT_TRUE(actual == expected)
          << std::setprecision(9) << actual << "\nlist: " << expected << "\n"
          << describe(ray, scene);
    }
  }
}

// The parallel build, forced on a few thousand shapes with distinct
// materials, makes the very nodes the serial one does and a sound tree, and
// answers as the list walk.
TEST(BvhIntersector, BuildsTheSameSoundTreeOnTwoThreads) {
  RandomScene random(32);
  Scene scene;
  random.fill(scene);
  random.scatter(scene, {0, 0, 0}, 30, 0.05f, 3, 3000, true);
  const BvhIntersector serial(scene.shapes, {.parallelBuildFrom = 0xffffffffu});
  const BvhIntersector parallel(scene.shapes, {.parallelBuildFrom = 1000});
  ASSERT_GT(parallel.hierarchyShapeCount(), 1000u);
  EXPECT_EQ(parallel.treeFault(), "");
#if defined(__SSE2__)
  EXPECT_TRUE(parallel.usesWideNodes());
#endif
  ASSERT_EQ(parallel.nodes().size(), serial.nodes().size());
  for (std::size_t n = 0; n < serial.nodes().size(); ++n) {
    ASSERT_EQ(std::memcmp(&parallel.nodes()[n], &serial.nodes()[n], sizeof(BvhIntersector::Node)),
              0)
        << "node " << n;
  }
  const std::vector<const Shape *> shapes = shapeList(scene);
  const ListIntersector list(scene.shapes);
  for (int r = 0; r < 4000 / WORK_DIVISOR; ++r) {
    const Ray ray = random.ray(shapes, list, scene.eye, 30);
    ASSERT_TRUE(ask(parallel, ray) == ask(list, ray)) << describe(ray, scene);
  }
}

// Otherwise the comparisons above could pass with every shape in the list walk.
TEST(BvhIntersector, KeepsOnlyShapesOutsideTheErrorAnalysisInTheAlwaysTestedList) {
  Scene scene;
  scene.addSphere(Material(), {0, 0, -5}, 1.0f);
  scene.addSphere(Material(), {0, 0, -5}, std::numeric_limits<float>::infinity());
  scene.addTriangle(Material(), {1e30f, 0, 0}, {0, 1, 0}, {0, 0, 1});
  const BvhIntersector hierarchy(scene.shapes);
  EXPECT_EQ(hierarchy.hierarchyShapeCount(), 1u);
  EXPECT_EQ(hierarchy.alwaysTestedCount(), 2u);
}

#if defined(__x86_64__)
// Otherwise the SIMD levels above would be skipped without notice.
TEST(FlatIntersector, RunsTheWidestKernelsTheProcessorHas) {
  const Scene scene;
  EXPECT_EQ(FlatIntersector(scene.shapes).level(),
            __builtin_cpu_supports("avx2") ? SimdLevel::Avx2 : SimdLevel::Sse2);
  EXPECT_EQ(FlatIntersector(scene.shapes, SimdLevel::Sse2).level(), SimdLevel::Sse2);
}
#endif

} // namespace
