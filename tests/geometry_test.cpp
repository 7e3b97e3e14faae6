#include <gtest/gtest.h>

#include "geometry/Sphere.h"
#include "geometry/Triangle.h"

namespace {

// Bit for bit: every component is one fixed rounding.
void expectVec(const Vec3 &v, float x, float y, float z) {
  EXPECT_EQ(v.x, x);
  EXPECT_EQ(v.y, y);
  EXPECT_EQ(v.z, z);
}

TEST(Vec3Operations, DotSumsZThenYThenXInDoubleAndNormalizeRoundsOnce) {
  // z + y first: (1 + 1e16) loses the 1, so adding x = -1e16 gives 0.
  // Summed from x, the same products would give 1.
  EXPECT_EQ(dot({-1e8f, 1e8f, 1}, {1e8f, 1e8f, 1}), 0.0);
  // x * (1 / |v|) in double, rounded once. Rounding 1 / |v| or |v| to float
  // first, or working in float, changes at least one component.
  Vec3 v(16, 38, 35);
  normalize(v);
  expectVec(v, 0x1.2ef0b6p-2f, 0x1.67bdd8p-1f, 0x1.4b5746p-1f);
  // A zero vector stays zero rather than becoming NaN.
  Vec3 zero;
  normalize(zero);
  expectVec(zero, 0, 0, 0);
}

const Sphere kSphere(nullptr, Material(), 0, 0, -5, 1);

TEST(SphereIntersect, ParametersScaleWithDirectionAndFromInsideTheFarSideIsHit) {
  EXPECT_EQ(kSphere.intersect(Ray({0, 0, 0}, {0, 0, -1})), 4.0f);
  EXPECT_EQ(kSphere.intersect(Ray({0, 0, 0}, {0, 0, -2})), 2.0f);
  EXPECT_EQ(kSphere.intersect(Ray({0, 0, -5}, {0, 0, -1})), 1.0f);
  EXPECT_EQ(kSphere.intersect(Ray({0, 0, -4.0078125f}, {0, 0, -1})), 1.9921875f);
}

TEST(SphereIntersect, MissesAreMinusOneAndNormalsPointAwayFromTheCentre) {
  EXPECT_EQ(kSphere.intersect(Ray({0, 0, -4}, {0, 0, 1})), -1.0f); // leaving the surface
  EXPECT_EQ(kSphere.intersect(Ray({0, 0, 0}, {0, 1, 0})), -1.0f);  // D < 0
  EXPECT_EQ(kSphere.intersect(Ray({0, 0, 0}, {0, 0, 0})), -1.0f);  // zero direction
  expectVec(kSphere.normalAt({0, 0, -4}), 0, 0, 1);
  expectVec(kSphere.normalAt({0, -7, -5}), 0, -1, 0);
}

TEST(TriangleIntersect, BothFacesAndEdgesAreHitButTheNormalFollowsTheWinding) {
  const Triangle ccw(nullptr, Material(), -1, -1, -5, 1, -1, -5, 0, 1, -5);
  const Triangle cw(nullptr, Material(), -1, -1, -5, 0, 1, -5, 1, -1, -5);
  EXPECT_EQ(ccw.intersect(Ray({0, 0, 0}, {0, 0, -1})), 5.0f);
  EXPECT_EQ(cw.intersect(Ray({0, 0, 0}, {0, 0, -1})), 5.0f);
  expectVec(ccw.normalAt({}), 0, 0, 1);
  expectVec(cw.normalAt({}), 0, 0, -1);
  // e1 x e2 rounded to floats, then normalised: without the first rounding
  // the x component ends in ...18.
  const Triangle slanted(nullptr, Material(), 0, 0, 0, -0x1.0234p-5f, 0x1.a7ebp-3f, 0x1.905bfep-2f,
                         -0x1.78a8p-6f, -0x1.91828p-2f, 0x1.6b45fcp-1f);
  expectVec(slanted.normalAt({}), 0x1.feaa1ap-1f, 0x1.6c12cep-5f, 0x1.d1ef86p-5f);
  const Triangle t(nullptr, Material(), 0, 0, -5, 2, 0, -5, 0, 2, -5);
  EXPECT_EQ(t.intersect(Ray({0, 0, 0}, {0, 0, -1})), 5.0f);     // vertex: u = v = 0
  EXPECT_EQ(t.intersect(Ray({1, 1, 0}, {0, 0, -1})), 5.0f);     // u + v = 1
  EXPECT_EQ(t.intersect(Ray({1.5f, 1, 0}, {0, 0, -1})), -1.0f); // just outside
}

TEST(TriangleIntersect, ParallelTooCloseDegenerateAndSmallDeterminantMiss) {
  const Triangle t(nullptr, Material(), -1, -1, -5, 1, -1, -5, 0, 1, -5);
  EXPECT_EQ(t.intersect(Ray({0, 0, 0}, {1, 0, 0})), -1.0f);
  EXPECT_EQ(t.intersect(Ray({0, 0, -4.995f}, {0, 0, -1})), -1.0f);
  const Triangle flat(nullptr, Material(), 0, 0, -5, 1, 0, -5, 2, 0, -5);
  EXPECT_EQ(flat.intersect(Ray({0.5f, 0, 0}, {0, 0, -1})), -1.0f);
  expectVec(flat.normalAt({}), 0, 0, 0);
  // |edge1 x edge2| = 0.0081 < 0.01 for a unit direction: a tiny triangle is
  // invisible, while the same triangle scaled up is hit.
  const Triangle tiny(nullptr, Material(), 0, 0, -5, 0.09f, 0, -5, 0, 0.09f, -5);
  const Triangle larger(nullptr, Material(), 0, 0, -5, 0.2f, 0, -5, 0, 0.2f, -5);
  EXPECT_EQ(tiny.intersect(Ray({0.01f, 0.01f, 0}, {0, 0, -1})), -1.0f);
  EXPECT_EQ(larger.intersect(Ray({0.01f, 0.01f, 0}, {0, 0, -1})), 5.0f);
}

} // namespace
