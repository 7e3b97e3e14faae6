// The scenes shipped in scenes/ must keep loading and rendering, and the mesh
// scene must stay what obj2scene makes of its OBJ file today.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

TEST(ExampleScenes, EverySceneRendersWithoutComplaint) {
  std::vector<fs::path> scenes;
  for (const auto &entry : fs::directory_iterator(SCENES_DIR)) {
    if (entry.path().extension() == ".txt") {
      scenes.push_back(entry.path());
    }
  }
  std::sort(scenes.begin(), scenes.end());
  ASSERT_GE(scenes.size(), 7u);
  ScratchDirectory dir;
  for (const fs::path &scene : scenes) {
    const ProgramResult result =
        runProgram(RAYTRACER_BINARY, {scene.string(), "out.bmp", "4", "2"}, dir.path());
    EXPECT_EQ(result.out, "50%     \r100%     \r") << scene;
    EXPECT_EQ(result.status, 0) << scene;
  }
}

TEST(ExampleScenes, MeshSceneIsTheConvertedTorusKnot) {
  ScratchDirectory dir;
  const std::string obj = std::string(SCENES_DIR) + "/meshes/torus-knot.obj";
  const ProgramResult result =
      runProgram(OBJ2SCENE_BINARY, {obj, "mesh.txt", "--frame", "--floor"}, dir.path());
  ASSERT_EQ(result.status, 0) << result.out;
  // The committed file names the OBJ by the relative path the gallery script uses.
  std::string converted = readFile(dir.path() / "mesh.txt");
  converted.replace(converted.find(obj), obj.size(), "scenes/meshes/torus-knot.obj");
  EXPECT_EQ(converted, readFile(fs::path(SCENES_DIR) / "mesh.txt"))
      << "run scripts/render-gallery.sh to bring scenes/mesh.txt up to date";
}

} // namespace
