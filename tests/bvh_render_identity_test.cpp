// Whole renders with the hierarchy must be byte-identical to the list walk:
// every conformance scene, every bundled scene and generated meshes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "render/RayTracer.h"

namespace fs = std::filesystem;

namespace {

void expectSameImage(const Scene &scene, int width, int height, const std::string &name) {
  RenderOptions reference;
  reference.shapes = RenderOptions::Shapes::Reference;
  RenderOptions hierarchy;
  hierarchy.shapes = RenderOptions::Shapes::Hierarchy;
  const auto expected = RayTracer().render(scene, width, height, reference);
  const auto actual = RayTracer().render(scene, width, height, hierarchy);
  ASSERT_TRUE(expected && actual) << name;
  const std::size_t bytes = std::size_t(width) * std::size_t(height) * 3;
  EXPECT_EQ(std::memcmp(expected->pixels.get(), actual->pixels.get(), bytes), 0)
      << name << " renders differently with the hierarchy";
}

struct Case {
  fs::path scene;
  int width;
  int height;
};

// Conformance cases whose scene loads and whose size is a plain positive
// number (the others test the command line, not the picture).
std::vector<Case> conformanceCases() {
  std::vector<Case> cases;
  for (const auto &entry : fs::directory_iterator(CONFORMANCE_DIR)) {
    std::ifstream argsFile(entry.path() / "args");
    std::vector<std::string> args;
    for (std::string line; std::getline(argsFile, line);) {
      args.push_back(line);
    }
    if (args.size() != 4) {
      continue;
    }
    const int width = std::atoi(args[2].c_str());
    const int height = std::atoi(args[3].c_str());
    if (width < 1 || height < 1 || width > 2000 || height > 2000 ||
        !fs::is_regular_file(entry.path() / args[0])) {
      continue;
    }
    cases.push_back({entry.path() / args[0], width, height});
  }
  return cases;
}

TEST(BvhRenderIdentity, ConformanceScenesRenderTheSameBytes) {
  const std::vector<Case> cases = conformanceCases();
  ASSERT_GT(cases.size(), 300u);
  for (const Case &c : cases) {
    Scene scene;
    if (scene.load(c.scene.string()) != 1) {
      continue;
    }
    expectSameImage(scene, c.width, c.height, c.scene.string());
  }
}

TEST(BvhRenderIdentity, BundledScenesRenderTheSameBytes) {
  int rendered = 0;
  for (const auto &entry : fs::directory_iterator(SCENES_DIR)) {
    if (entry.path().extension() != ".txt") {
      continue;
    }
    Scene scene;
    ASSERT_EQ(scene.load(entry.path().string()), 1) << entry.path();
    expectSameImage(scene, 160, 120, entry.path().string());
    ++rendered;
  }
  EXPECT_GT(rendered, 0);
}

// A shiny tessellated sphere on a mirror floor, lit by a point and a
// direction light: shared edges, reflections and shadows on a mesh.
TEST(BvhRenderIdentity, GeneratedMeshRendersTheSameBytes) {
  Scene scene;
  scene.setCamera({0, 1.5f, 6}, {0, 0.5f, 0}, {0, 1, 0}, 45);
  scene.ambient = {0.1f, 0.1f, 0.1f};
  scene.addPointLight({30, 30, 30}, {3, 5, 4});
  scene.addDirectionLight({0.6f, 0.6f, 0.6f}, {-0.3f, 1, 0.2f});
  Material floor;
  floor.color = {0.8f, 0.8f, 0.8f};
  floor.reflectivity = 0.3f;
  scene.addTriangle(floor, {-50, -1, -50}, {50, -1, 50}, {50, -1, -50});
  scene.addTriangle(floor, {-50, -1, -50}, {-50, -1, 50}, {50, -1, 50});
  Material shiny;
  shiny.color = {0.9f, 0.4f, 0.2f};
  shiny.exponent = 20;
  shiny.reflectivity = 0.5f;
  const int rings = 24;
  const int segments = 48;
  auto at = [](int ring, int segment) {
    const double theta = std::numbers::pi * ring / rings;
    const double phi = 2 * std::numbers::pi * segment / segments;
    return Vec3(float(std::sin(theta) * std::cos(phi)), float(std::cos(theta) + 0.5),
                float(std::sin(theta) * std::sin(phi)));
  };
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      scene.addTriangle(shiny, at(i, j), at(i + 1, j), at(i + 1, j + 1));
      scene.addTriangle(shiny, at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  }
  scene.addSphere(shiny, {1.8f, 0, 0.5f}, 0.6f);
  expectSameImage(scene, 96, 72, "generated mesh");
}

} // namespace
