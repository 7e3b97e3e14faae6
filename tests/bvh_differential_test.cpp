// The hierarchy against the list walk on random and adversarial scenes: every
// query must give the same shape, the same parameter bit for bit and the same
// blocked / unblocked answer. A mismatch prints the scene and the ray.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/Sphere.h"
#include "geometry/Triangle.h"
#include "render/BvhIntersector.h"

#ifndef BVH_DIFFERENTIAL_SCALE
#define BVH_DIFFERENTIAL_SCALE 1
#endif

namespace {

// Rays per scene family; the families together fire well over a million
// rays (each asked all three queries) in an optimised build.
constexpr int kRaysPerFamily = 170000 / BVH_DIFFERENTIAL_SCALE;

std::string describe(float x) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.9g", double(x));
  return buffer;
}

std::string describe(const Vec3 &v) {
  return describe(v.x) + " " + describe(v.y) + " " + describe(v.z);
}

// The scene in file form (shapes in declaration order, the reverse of the list).
std::string describe(const Scene &scene) {
  std::vector<const Shape *> shapes;
  for (const Shape *s = scene.shapes; s != nullptr; s = s->next) {
    shapes.push_back(s);
  }
  std::ostringstream out;
  for (auto it = shapes.rbegin(); it != shapes.rend(); ++it) {
    if (const auto *t = dynamic_cast<const Triangle *>(*it)) {
      out << "triangle\n"
          << describe(t->vertex0) << "\n"
          << describe(t->vertex1) << "\n"
          << describe(t->vertex2) << "\n";
    } else if (const auto *s = dynamic_cast<const Sphere *>(*it)) {
      out << "sphere\n" << describe(s->center) << "\n" << describe(s->radius) << "\n";
    }
  }
  return out.str();
}

class Random {
public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}
  float uniform(float lo, float hi) {
    return std::uniform_real_distribution<float>(lo, hi)(engine_);
  }
  // Magnitudes spread over many orders.
  float logUniform(float lo, float hi) { return std::exp(uniform(std::log(lo), std::log(hi))); }
  int below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(engine_); }
  bool chance(double p) { return std::bernoulli_distribution(p)(engine_); }
  Vec3 inCube(const Vec3 &centre, float half) {
    return {centre.x + uniform(-half, half), centre.y + uniform(-half, half),
            centre.z + uniform(-half, half)};
  }
  Vec3 direction() {
    Vec3 d(uniform(-1, 1), uniform(-1, 1), uniform(-1, 1));
    // Axis-aligned components are common in real rays.
    if (chance(0.1)) {
      d.x = 0.0f;
    }
    if (chance(0.1)) {
      d.y = 0.0f;
    }
    return d;
  }

private:
  std::mt19937_64 engine_;
};

// Where the scene lives and how big its shapes are.
struct Family {
  const char *name;
  float distance; // of the scene centre from the origin
  float spread;   // half-size of the cube the shapes lie in
  float minSize;  // shape sizes are log-uniform in [minSize, maxSize]
  float maxSize;
  int shapes;
  bool oddities; // degenerate, duplicated, non-finite, negative radii
};

Vec3 along(const Vec3 &v, float s) {
  return scale(v, s);
}

void addRandomShape(Scene &scene, Random &random, const Family &family, const Vec3 &centre) {
  Material material;
  const Vec3 at = random.inCube(centre, family.spread);
  const float size = random.logUniform(family.minSize, family.maxSize);
  if (random.chance(0.3)) {
    float radius = size;
    if (family.oddities && random.chance(0.2)) {
      radius = -radius;
    }
    scene.addSphere(material, at, radius);
    return;
  }
  const Vec3 v1 = add(at, along(random.direction(), size));
  Vec3 v2 = add(at, along(random.direction(), size));
  if (family.oddities && random.chance(0.1)) {
    v2 = add(at, scale(sub(v1, at), 2.0f)); // collinear: degenerate
  }
  scene.addTriangle(material, at, v1, v2);
}

// A few shapes no ordinary scene has.
void addOddShapes(Scene &scene, Random &random, const Vec3 &centre) {
  Material material;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  if (random.chance(0.3)) {
    scene.addSphere(material, centre, inf); // blocks every shadow ray
  }
  scene.addSphere(material, {nan, 0, 0}, 1.0f);
  scene.addTriangle(material, centre, {inf, 0, 0}, {0, 1, 0});
  scene.addTriangle(material, {1e30f, 0, 0}, {0, 1e30f, 0}, {0, 0, 1e30f});
  scene.addTriangle(material, centre, centre, centre);
  // A sphere around the camera and a huge floor.
  scene.addSphere(material, {0, 0, 0}, random.logUniform(1.0f, 100.0f));
  const float f = 1e4f;
  scene.addTriangle(material, {centre.x - f, centre.y - 1, centre.z - f},
                    {centre.x + f, centre.y - 1, centre.z - f},
                    {centre.x, centre.y - 1, centre.z + f});
}

// Copies of the most recently added shapes, some exact, some coincident
// spheres with the opposite radius.
void addDuplicates(Scene &scene, int count) {
  std::vector<const Shape *> recent;
  for (const Shape *s = scene.shapes; s != nullptr && int(recent.size()) < count; s = s->next) {
    recent.push_back(s);
  }
  Material material;
  for (const Shape *shape : recent) {
    if (const auto *t = dynamic_cast<const Triangle *>(shape)) {
      scene.addTriangle(material, t->vertex0, t->vertex1, t->vertex2);
      scene.addTriangle(material, t->vertex0, t->vertex2, t->vertex1);
    } else if (const auto *s = dynamic_cast<const Sphere *>(shape)) {
      scene.addSphere(material, s->center, -s->radius);
    }
  }
}

// A grid of triangles sharing edges, so rays often meet two of them at one
// parameter.
void addMesh(Scene &scene, const Vec3 &corner, float cell, int n) {
  Material material;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Vec3 a(corner.x + cell * float(i), corner.y, corner.z + cell * float(j));
      const Vec3 b(a.x + cell, a.y, a.z);
      const Vec3 c(a.x, a.y, a.z + cell);
      const Vec3 d(a.x + cell, a.y + 0.3f * cell, a.z + cell);
      scene.addTriangle(material, a, b, d);
      scene.addTriangle(material, a, d, c);
    }
  }
}

std::vector<const Shape *> listOf(const Scene &scene) {
  std::vector<const Shape *> shapes;
  for (const Shape *s = scene.shapes; s != nullptr; s = s->next) {
    shapes.push_back(s);
  }
  return shapes;
}

// A point on (or near) some shape, to aim at or to start from.
Vec3 pointOn(const Shape &shape, Random &random) {
  if (const auto *t = dynamic_cast<const Triangle *>(&shape)) {
    float u = random.uniform(0, 1);
    float v = random.uniform(0, 1);
    switch (random.below(4)) {
    case 0: // a vertex
      return random.chance(0.5) ? t->vertex1 : t->vertex2;
    case 1: // an edge
      v = 1.0f - u;
      break;
    case 2: // the edge through vertex0
      v = 0.0f;
      break;
    default:
      if (u + v > 1.0f) {
        u = 1.0f - u;
        v = 1.0f - v;
      }
    }
    return add(t->vertex0, add(scale(t->edge1, u), scale(t->edge2, v)));
  }
  const auto *s = dynamic_cast<const Sphere *>(&shape);
  Vec3 d = random.direction();
  normalize(d);
  return add(s->center, scale(d, s->radius));
}

// Rays of every kind: from the camera region, aimed at shapes (edges and
// vertices included), grazing, starting on surfaces, secondary rays built as
// the tracer builds them, and rays with odd components.
Ray makeRay(const std::vector<const Shape *> &shapes, const Intersector &reference, Random &random,
            const Vec3 &camera, float spread) {
  const Shape &target = *shapes[std::size_t(random.below(int(shapes.size())))];
  const Vec3 aim = pointOn(target, random);
  switch (random.below(8)) {
  case 0: // camera ray
    return Ray(camera, random.direction());
  case 1: { // aimed at a shape from anywhere
    const Vec3 from = random.inCube(aim, spread);
    return Ray(from, sub(aim, from));
  }
  case 2: { // grazing a triangle's plane or a sphere's tangent plane
    Vec3 d = random.direction();
    if (const auto *t = dynamic_cast<const Triangle *>(&target)) {
      d = add(t->edge1, scale(t->normal, random.uniform(-1e-3f, 1e-3f)));
    } else {
      const auto *s = dynamic_cast<const Sphere *>(&target);
      Vec3 n = sub(aim, s->center);
      d = cross(n, random.direction());
    }
    return Ray(sub(aim, scale(d, random.logUniform(0.01f, 100.0f))), d);
  }
  case 3: // starting on a surface
    return Ray(aim, random.direction());
  case 4:
  case 5: { // secondary rays as the tracer makes them
    const Vec3 from = random.inCube(aim, spread);
    const Ray primary(from, sub(aim, from));
    const Hit hit = reference.nearest(primary);
    if (hit.shape == nullptr) {
      return primary;
    }
    const Vec3 point = add(primary.origin, scale(primary.direction, hit.t));
    const Vec3 normal = hit.shape->normalAt(point);
    if (random.chance(0.5)) {
      Vec3 view = scale(primary.direction, -1.0f);
      normalize(view);
      return Ray(point, sub(scale(normal, float(2.0 * dot(view, normal))), view));
    }
    return Ray(point, sub(random.inCube(camera, spread), point)); // towards a point light
  }
  case 6: { // huge or tiny directions
    const float s =
        random.chance(0.5) ? random.logUniform(1e-12f, 1e-3f) : random.logUniform(1e3f, 1e12f);
    return Ray(camera, scale(sub(aim, camera), s));
  }
  default: { // non-finite or far-away components
    const float values[] = {std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            std::numeric_limits<float>::quiet_NaN(),
                            3e38f,
                            1e7f,
                            0.0f};
    Ray ray(camera, sub(aim, camera));
    float &component = random.chance(0.5) ? ray.direction.y : ray.origin.x;
    component = values[random.below(6)];
    return ray;
  }
  }
}

// Compares all three queries on one ray; returns false after reporting.
bool agree(const Scene &scene, const Intersector &reference, const Intersector &hierarchy,
           const Ray &ray, const char *family) {
  const Hit expected = reference.nearest(ray);
  const Hit actual = hierarchy.nearest(ray);
  const bool sameNearest =
      expected.shape == actual.shape &&
      std::bit_cast<std::uint32_t>(expected.t) == std::bit_cast<std::uint32_t>(actual.t);
  const bool sameAny = reference.anyHit(ray) == hierarchy.anyHit(ray);
  const bool sameBeforeOne = reference.anyHitBeforeOne(ray) == hierarchy.anyHitBeforeOne(ray);
  if (sameNearest && sameAny && sameBeforeOne) {
    return true;
  }
  ADD_FAILURE() << "family " << family << ": nearest " << (sameNearest ? "agrees" : "differs")
                << " (list t=" << describe(expected.t) << ", hierarchy t=" << describe(actual.t)
                << "), anyHit " << (sameAny ? "agrees" : "differs") << ", anyHitBeforeOne "
                << (sameBeforeOne ? "agrees" : "differs") << "\nray origin " << describe(ray.origin)
                << " direction " << describe(ray.direction) << "\nscene:\n"
                << describe(scene);
  return false;
}

void runFamily(const Family &family, std::uint64_t seed) {
  Random random(seed);
  const int scenes = 40;
  const int raysPerScene = kRaysPerFamily / scenes;
  for (int s = 0; s < scenes; ++s) {
    Scene scene;
    Vec3 centre = random.direction();
    normalize(centre);
    centre = scale(centre, family.distance);
    for (int i = 0; i < family.shapes; ++i) {
      addRandomShape(scene, random, family, centre);
    }
    if (family.oddities) {
      addMesh(scene, random.inCube(centre, family.spread), family.maxSize, 3);
      addDuplicates(scene, 6);
      addOddShapes(scene, random, centre);
    }
    const std::vector<const Shape *> shapes = listOf(scene);
    const ListIntersector reference(scene);
    const BvhIntersector hierarchy(scene);
    const Vec3 camera = random.chance(0.5) ? Vec3() : random.inCube(centre, family.spread);
    for (int r = 0; r < raysPerScene; ++r) {
      const Ray ray = makeRay(shapes, reference, random, camera, family.spread);
      if (!agree(scene, reference, hierarchy, ray, family.name)) {
        return; // one printed scene is enough
      }
    }
  }
}

TEST(BvhDifferential, SmallShapesNearTheOriginAnswerAsTheList) {
  runFamily({"near", 5.0f, 10.0f, 0.01f, 3.0f, 60, false}, 1);
}

TEST(BvhDifferential, ShapesTenThousandAwayAnswerAsTheList) {
  runFamily({"far", 1e4f, 50.0f, 0.05f, 20.0f, 60, false}, 2);
}

TEST(BvhDifferential, TinyAndHugeShapesAnswerAsTheList) {
  runFamily({"sizes", 100.0f, 100.0f, 1e-3f, 1e3f, 60, false}, 3);
}

TEST(BvhDifferential, DegenerateDuplicatedAndNonFiniteShapesAnswerAsTheList) {
  runFamily({"odd", 20.0f, 20.0f, 0.05f, 5.0f, 40, true}, 4);
}

TEST(BvhDifferential, OddShapesFarFromTheOriginAnswerAsTheList) {
  runFamily({"odd-far", 9000.0f, 30.0f, 0.1f, 10.0f, 40, true}, 5);
}

TEST(BvhDifferential, DenseMeshAnswersAsTheList) {
  Random random(6);
  for (int s = 0; s < 8; ++s) {
    Scene scene;
    const Vec3 corner = random.inCube({0, 0, 0}, 1e3f);
    addMesh(scene, corner, random.logUniform(0.2f, 5.0f), 12);
    const std::vector<const Shape *> shapes = listOf(scene);
    const ListIntersector reference(scene);
    const BvhIntersector hierarchy(scene);
    const Vec3 camera = random.inCube(corner, 20.0f);
    for (int r = 0; r < kRaysPerFamily / 8; ++r) {
      const Ray ray = makeRay(shapes, reference, random, camera, 10.0f);
      if (!agree(scene, reference, hierarchy, ray, "mesh")) {
        return;
      }
    }
  }
}

TEST(BvhIntersector, KeepsUncoveredShapesInTheAlwaysTestedList) {
  Scene scene;
  Material material;
  scene.addSphere(material, {0, 0, -5}, 1.0f);
  scene.addSphere(material, {0, 0, -5}, std::numeric_limits<float>::infinity());
  scene.addTriangle(material, {1e30f, 0, 0}, {0, 1, 0}, {0, 0, 1});
  const BvhIntersector hierarchy(scene);
  EXPECT_EQ(hierarchy.hierarchyShapeCount(), 1u);
  EXPECT_EQ(hierarchy.alwaysTestedCount(), 2u);
}

TEST(BvhIntersector, EmptySceneHitsNothing) {
  Scene scene;
  const BvhIntersector hierarchy(scene);
  const Ray ray({0, 0, 0}, {0, 0, -1});
  EXPECT_EQ(hierarchy.nearest(ray).shape, nullptr);
  EXPECT_FALSE(hierarchy.anyHit(ray));
  EXPECT_FALSE(hierarchy.anyHitBeforeOne(ray));
}

} // namespace
