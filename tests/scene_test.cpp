#include <gtest/gtest.h>

#include "geometry/Sphere.h"
#include "scene/Scene.h"

namespace {

TEST(SceneCamera, DefaultAndLookAtCameras) {
  Scene scene;
  EXPECT_EQ(scene.right.x, 1.0f);
  scene.setCamera({0, 0, 10}, {0, 0, 0}, {0, 2, 0}, 30);
  EXPECT_EQ(scene.forward.z, -1.0f);
  EXPECT_EQ(scene.up.y, 1.0f);
  EXPECT_EQ(scene.right.x, 1.0f);
  EXPECT_EQ(scene.fov, 30.0f);
}

TEST(SceneCamera, TiltedUpIsNotMadePerpendicular) {
  Scene scene;
  scene.setCamera({0, 0, 0}, {0, 0, -1}, {0, 1, 1}, 20);
  EXPECT_NEAR(scene.up.y, 0.70710677, 1e-7);
  EXPECT_NEAR(scene.up.z, 0.70710677, 1e-7);
  EXPECT_NEAR(scene.right.x, 0.70710677, 1e-7);
  EXPECT_EQ(scene.right.z, 0.0f);
}

TEST(SceneLists, NewestElementComesFirst) {
  Scene scene;
  for (float r : {1.0f, 2.0f, 3.0f}) {
    scene.addSphere(Material(), {0, 0, 0}, r);
  }
  std::vector<float> radii;
  for (const Shape *s = scene.shapes; s != nullptr; s = s->next) {
    radii.push_back(static_cast<const Sphere *>(s)->radius);
  }
  EXPECT_EQ(radii, (std::vector<float>{3, 2, 1}));
}

TEST(SceneLights, DirectionIsNormalisedPositionIsNot) {
  Scene scene;
  scene.addDirectionLight({1, 1, 1}, {0, 10, 0});
  scene.addPointLight({1, 1, 1}, {0, 10, 0});
  EXPECT_EQ(scene.directionLights->direction.y, 1.0f);
  EXPECT_EQ(scene.pointLights->position.y, 10.0f);
}

} // namespace
