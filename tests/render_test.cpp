#include <gtest/gtest.h>

#include <cmath>

#include "render/RayTracer.h"

namespace {

// One white sphere at (0, 0, -5), ambient 0.1, one direction light towards +z.
void buildWorkedExample(Scene &scene, float reflectivity) {
  scene.ambient = {0.1f, 0.1f, 0.1f};
  scene.addDirectionLight({1, 1, 1}, {0, 0, 1});
  Material m;
  m.color = {1, 1, 1};
  m.exponent = 10;
  m.reflectivity = reflectivity;
  scene.addSphere(m, {0, 0, -5}, 1);
}

const Ray kCentreRay({0, 0, 0}, {0, 0, -1});

TEST(Trace, WorkedExampleCombinesAmbientDiffuseHighlightAndMirror) {
  Scene scene;
  buildWorkedExample(scene, 0.5f);
  const Vec3 c = RayTracer().trace(scene, kCentreRay, 5);
  EXPECT_FLOAT_EQ(c.x, 0.85f);
  EXPECT_FLOAT_EQ(c.z, 0.85f);

  Scene matte;
  buildWorkedExample(matte, 0.0f);
  EXPECT_FLOAT_EQ(RayTracer().trace(matte, kCentreRay, 5).y, 1.1f); // not clamped
}

TEST(Trace, MissIsBlackAndLaterDeclaredCoincidentShapeWins) {
  Scene scene;
  EXPECT_EQ(RayTracer().trace(scene, kCentreRay, 5).x, 0.0f);
  scene.ambient = {1, 1, 1};
  Material red;
  red.color = {1, 0, 0};
  Material green;
  green.color = {0, 1, 0};
  scene.addSphere(red, {0, 0, -5}, 1);
  scene.addSphere(green, {0, 0, -5}, 1);
  const Vec3 c = RayTracer().trace(scene, kCentreRay, 5);
  EXPECT_EQ(c.x, 0.0f);
  EXPECT_EQ(c.y, 1.0f);
}

TEST(Trace, PointLightFallsOffWithSquaredDistanceAndIsShadowedOnlyBeforeIt) {
  Material white;
  white.color = {1, 1, 1};
  auto diffuseWith = [&](bool blockerBetween, bool blockerBeyond) {
    Scene scene;
    scene.addPointLight({4, 4, 4}, {0, 0, -2}); // 2 away from the hit point (0, 0, -4)
    scene.addSphere(white, {0, 0, -5}, 1);
    if (blockerBetween) {
      scene.addSphere(white, {0, 0, -3}, 0.25f);
    }
    if (blockerBeyond) {
      scene.addSphere(white, {0, 0, -1}, 0.25f);
    }
    // Start past the blockers so that the ray itself reaches (0, 0, -4).
    return RayTracer().trace(scene, Ray({0, 0, -3.5f}, {0, 0, -1}), 0).x;
  };
  EXPECT_FLOAT_EQ(diffuseWith(false, false), 1.0f);
  EXPECT_FLOAT_EQ(diffuseWith(false, true), 1.0f);
  EXPECT_EQ(diffuseWith(true, false), 0.0f);
}

TEST(Trace, LightBehindTheSurfaceAddsNothing) {
  Scene scene;
  Material white;
  white.color = {1, 1, 1};
  scene.addSphere(white, {0, 0, -5}, 1);
  scene.addDirectionLight({1, 1, 1}, {0, 0, -1});
  EXPECT_EQ(RayTracer().trace(scene, kCentreRay, 5).x, 0.0f);
}

TEST(Render, WorkedExampleAtThreeByThree) {
  Scene scene;
  buildWorkedExample(scene, 0.5f);
  testing::internal::CaptureStdout();
  const std::unique_ptr<Image> image = RayTracer().render(scene, 3, 3);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "33.3333%     \r66.6667%     \r100%     \r");
  ASSERT_TRUE(image);
  const std::uint8_t *p = image->pixels.get();
  auto red = [&](int x, int y) { return int(p[(y * 3 + x) * 3]); };
  EXPECT_EQ(red(0, 0), 0);
  EXPECT_EQ(red(2, 2), 0);
  EXPECT_EQ(red(1, 0), 107);
  EXPECT_EQ(red(0, 1), 107);
  EXPECT_EQ(red(1, 1), 216);
}

TEST(Render, ProgressUsesSixSignificantDigits) {
  Scene scene;
  testing::internal::CaptureStdout();
  RayTracer().render(scene, 1, 480);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.substr(0, 16), "0.208333%     \r0");
  EXPECT_NE(out.find("\r50%     \r"), std::string::npos);
  EXPECT_EQ(out.substr(out.size() - 11), "\r100%     \r");
}

} // namespace
