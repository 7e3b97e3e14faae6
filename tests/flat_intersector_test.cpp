// The flat intersector against the shape list, one query at a time, on rays
// chosen to hit the awkward cases: edges, tangents, equal parameters, rays
// that start on a surface, zero, infinite and NaN components.

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <vector>

#include "random_scene.h"
#include "render/FlatIntersector.h"

namespace {

class FlatQueries : public testing::TestWithParam<SimdLevel> {
protected:
  void SetUp() override {
    if (GetParam() > supportedSimdLevel()) {
      GTEST_SKIP() << "this processor does not run this level";
    }
  }
};

std::string describe(const Ray &ray) {
  std::ostringstream out;
  out << "ray from (" << ray.origin.x << ", " << ray.origin.y << ", " << ray.origin.z << ") along ("
      << ray.direction.x << ", " << ray.direction.y << ", " << ray.direction.z << ")";
  return out.str();
}

// Same shape, same parameter bits, same shadow answers. Returns false at the
// first difference.
bool answersAlike(const Intersector &flat, const Intersector &list, const Ray &ray) {
  const Hit expected = list.nearest(ray);
  const Hit actual = flat.nearest(ray);
  EXPECT_EQ(actual.shape, expected.shape) << describe(ray);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(actual.t), std::bit_cast<std::uint32_t>(expected.t))
      << describe(ray) << ": " << actual.t << " instead of " << expected.t;
  EXPECT_EQ(flat.anyHit(ray), list.anyHit(ray)) << describe(ray);
  EXPECT_EQ(flat.anyHitBeforeOne(ray), list.anyHitBeforeOne(ray)) << describe(ray);
  return !testing::Test::HasFailure();
}

// Points that rays are aimed at: centres, tangent points, vertices, edge
// midpoints and inner points of every shape.
std::vector<Vec3> targets(const Scene &scene, const Vec3 &from, RandomScene &random) {
  std::vector<Vec3> points;
  for (const Shape *shape = scene.shapes; shape != nullptr; shape = shape->next) {
    if (const auto *s = dynamic_cast<const Sphere *>(shape)) {
      points.push_back(s->center);
      // On the silhouette seen from `from`: a grazing ray.
      Vec3 toCentre = sub(s->center, from);
      Vec3 side = cross(toCentre, random.point(-1, 1));
      normalize(side);
      points.push_back(add(s->center, scale(side, s->radius)));
    } else if (const auto *t = dynamic_cast<const Triangle *>(shape)) {
      points.push_back(t->vertex0);
      points.push_back(t->vertex1);
      points.push_back(scale(add(t->vertex1, t->vertex2), 0.5f));
      points.push_back(add(t->vertex0, add(scale(t->edge1, 0.25f), scale(t->edge2, 0.25f))));
    }
  }
  return points;
}

TEST_P(FlatQueries, RandomScenesAnswerEveryRayAsTheShapeList) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    RandomScene random(seed);
    Scene scene;
    random.fill(scene);
    const ListIntersector list(scene);
    const FlatIntersector flat(scene, GetParam());
    ASSERT_EQ(flat.level(), GetParam());

    std::vector<Ray> rays;
    for (int i = 0; i < 200; ++i) {
      rays.emplace_back(random.point(-8, 8), random.point(-2, 2));
    }
    const Vec3 origins[] = {scene.eye, random.point(-8, 8), {0, 0, 0}};
    for (const Vec3 &origin : origins) {
      for (const Vec3 &target : targets(scene, origin, random)) {
        rays.emplace_back(origin, sub(target, origin));
        rays.emplace_back(origin, scale(sub(target, origin), 0.001f)); // tiny, long parameters
      }
    }
    // Secondary rays from the surfaces hit: shadow rays towards the lights
    // (unnormalised, light at parameter 1) and rays leaving the surface.
    const std::size_t primaryCount = rays.size();
    for (std::size_t i = 0; i < primaryCount; ++i) {
      const Hit hit = list.nearest(rays[i]);
      if (hit.shape == nullptr) {
        continue;
      }
      const Vec3 point = add(rays[i].origin, scale(rays[i].direction, hit.t));
      for (const PointLight *light = scene.pointLights; light; light = light->next) {
        rays.emplace_back(point, sub(light->position, point));
      }
      rays.emplace_back(point, random.point(-1, 1));
      rays.emplace_back(point, scale(rays[i].direction, -1.0f));
    }
    const Vec3 odd[] = {{0, 0, 0},    {inf, 0, 0},   {0, -inf, 1},        {nan, 0, 0},
                        {1, nan, -1}, {1e30f, 0, 0}, {1e-30f, 0, 1e-30f}, {-1e20f, 1e20f, 3}};
    for (const Vec3 &v : odd) {
      rays.emplace_back(scene.eye, v);
      rays.emplace_back(v, random.point(-1, 1));
    }

    for (const Ray &ray : rays) {
      if (!answersAlike(flat, list, ray)) {
        FAIL() << "seed " << seed;
      }
    }
  }
}

TEST_P(FlatQueries, EqualParametersGoToTheShapeFirstInTheListAcrossKinds) {
  Material first;
  first.color = {1, 0, 0};
  // A sphere and a triangle both hit at t = 4 by the centre ray: whichever
  // was declared later comes first in the list and wins.
  for (const bool triangleLast : {true, false}) {
    Scene scene;
    for (int i = 0; i < 5; ++i) { // spread over more than one block
      scene.addSphere(Material(), {10.0f + float(i), 0, 0}, 1);
    }
    if (triangleLast) {
      scene.addSphere(Material(), {0, 0, -5}, 1);
      scene.addTriangle(first, {-1, -1, -4}, {1, -1, -4}, {0, 1, -4});
    } else {
      scene.addTriangle(Material(), {-1, -1, -4}, {1, -1, -4}, {0, 1, -4});
      scene.addSphere(first, {0, 0, -5}, 1);
    }
    const Hit hit = FlatIntersector(scene, GetParam()).nearest(Ray({0, 0, 0}, {0, 0, -1}));
    ASSERT_NE(hit.shape, nullptr);
    EXPECT_EQ(hit.t, 4.0f);
    EXPECT_EQ(hit.shape, scene.shapes);
    EXPECT_EQ(hit.shape->material.color.x, 1.0f);
  }
}

TEST_P(FlatQueries, ShadowQueriesCountOnlyTheRightParameters) {
  Scene scene;
  scene.addSphere(Material(), {0, 0, -5}, 1); // hit at t = 4 along -z
  const FlatIntersector flat(scene, GetParam());
  EXPECT_TRUE(flat.anyHit(Ray({0, 0, 0}, {0, 0, -1})));
  EXPECT_FALSE(flat.anyHitBeforeOne(Ray({0, 0, 0}, {0, 0, -1})));
  EXPECT_TRUE(flat.anyHitBeforeOne(Ray({0, 0, 0}, {0, 0, -8})));
  EXPECT_FALSE(flat.anyHit(Ray({0, 0, 0}, {0, 0, 1})));
  EXPECT_EQ(flat.nearest(Ray({0, 0, 0}, {0, 0, 1})).shape, nullptr);
}

// The triangle kernels test u against 1 + 2^-24 in double instead of rounding
// u to float and comparing with 1.
TEST(FloatRounding, ExceedsOneExactlyBeyondOnePlusHalfAnUlp) {
  const double threshold = 1.0 + 0x1p-24;
  const double near[] = {1.0,
                         std::nextafter(threshold, 0.0),
                         threshold,
                         std::nextafter(threshold, 2.0),
                         1.0 + 0x1p-23,
                         1e300,
                         std::numeric_limits<double>::infinity(),
                         std::numeric_limits<double>::quiet_NaN()};
  for (const double u : near) {
    EXPECT_EQ(float(u) > 1.0f, u > threshold) << u;
  }
}

std::string levelName(const testing::TestParamInfo<SimdLevel> &info) {
  switch (info.param) {
  case SimdLevel::Scalar:
    return "Scalar";
  case SimdLevel::Sse2:
    return "Sse2";
  case SimdLevel::Avx2:
    return "Avx2";
  }
  return "Unknown";
}

INSTANTIATE_TEST_SUITE_P(Levels, FlatQueries,
                         testing::Values(SimdLevel::Scalar, SimdLevel::Sse2, SimdLevel::Avx2),
                         levelName);

} // namespace
