// The examples in the scene guide must keep loading and rendering, and the
// mesh scene must stay what scenetool import makes of its OBJ file today. (The scenes
// in scenes/ are rendered by render_identity_test.)

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "guide_examples.h"
#include "run_program.h"

namespace fs = std::filesystem;

namespace {

// Every example renders when pasted alone; the complete ones show something
// (fragments say which complete scene to paste them into).
TEST(ExampleScenes, EveryExampleInTheGuideRendersWhenPastedAndCompleteOnesAreNotBlack) {
  const std::vector<GuideExample> examples = guideExamples();
  ASSERT_GE(examples.size(), 8u);
  ScratchDirectory dir;
  for (const GuideExample &example : examples) {
    dir.write("pasted.txt", example.text);
    const ProgramResult result =
        runProgram(RAYTRACER_BINARY, {"pasted.txt", "out.bmp", "32", "24"}, dir.path());
    EXPECT_EQ(result.out.substr(result.out.size() - 10), "100%     \r") << example.text;
    EXPECT_EQ(result.status, 0) << example.text;
    if (example.complete) {
      const std::string pixels = readFile(dir.path() / "out.bmp").substr(54);
      EXPECT_NE(pixels.find_first_not_of('\0'), std::string::npos) << example.text;
    }
  }
}

TEST(ExampleScenes, MeshSceneIsTheConvertedTorusKnot) {
  ScratchDirectory dir;
  const std::string obj = std::string(SCENES_DIR) + "/meshes/torus-knot.obj";
  const ProgramResult result =
      runProgram(SCENETOOL_BINARY, {"import", obj, "mesh.txt", "--frame", "--floor"}, dir.path());
  ASSERT_EQ(result.status, 0) << result.out;
  // The committed file names the OBJ by the relative path the gallery script uses.
  std::string converted = readFile(dir.path() / "mesh.txt");
  converted.replace(converted.find(obj), obj.size(), "scenes/meshes/torus-knot.obj");
  EXPECT_EQ(converted, readFile(fs::path(SCENES_DIR) / "mesh.txt"))
      << "run scripts/render-gallery.sh to bring scenes/mesh.txt up to date";
}

} // namespace
