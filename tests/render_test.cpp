#include <gtest/gtest.h>

#include "render/RayTracer.h"

namespace {

const Ray kCentreRay({0, 0, 0}, {0, 0, -1});

Material colour(float r, float g, float b) {
  Material m;
  m.color = {r, g, b};
  return m;
}

TEST(Trace, WorkedExampleCombinesAmbientDiffuseHighlightAndMirrorWithoutClamping) {
  for (const float reflectivity : {0.5f, 0.0f}) {
    Scene scene;
    scene.ambient = {0.1f, 0.1f, 0.1f};
    scene.addDirectionLight({1, 1, 1}, {0, 0, 1});
    Material m = colour(1, 1, 1);
    m.exponent = 10;
    m.reflectivity = reflectivity;
    scene.addSphere(m, {0, 0, -5}, 1);
    EXPECT_EQ(RayTracer().trace(scene, kCentreRay, 5).y, reflectivity > 0 ? 0.85f : 1.1f);
  }
}

TEST(Trace, PointLightFallsOffWithSquaredDistanceAndIsShadowedOnlyBeforeIt) {
  auto diffuseWith = [&](bool blockerBetween, bool blockerBeyond) {
    Scene scene;
    scene.addPointLight({4, 4, 4}, {0, 0, -2}); // 2 away from the hit point (0, 0, -4)
    scene.addSphere(colour(1, 1, 1), {0, 0, -5}, 1);
    if (blockerBetween) {
      scene.addSphere(colour(1, 1, 1), {0, 0, -3}, 0.25f);
    }
    if (blockerBeyond) {
      scene.addSphere(colour(1, 1, 1), {0, 0, -1}, 0.25f);
    }
    // Start past the blockers so that the ray itself reaches (0, 0, -4).
    return RayTracer().trace(scene, Ray({0, 0, -3.5f}, {0, 0, -1}), 0).x;
  };
  EXPECT_EQ(diffuseWith(false, false), 1.0f);
  EXPECT_EQ(diffuseWith(false, true), 1.0f);
  EXPECT_EQ(diffuseWith(true, false), 0.0f);
}

} // namespace
