// The examples in the scene guide must keep loading and rendering, and the
// mesh scene must stay what scenetool import makes of its OBJ file today. (The scenes
// in scenes/ are rendered by render_identity_test.)

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

// The guide's scene examples are its code blocks without a language tag.
std::vector<std::string> guideExamples() {
  std::istringstream guide(readFile(fs::path(DOCS_DIR) / "scene-format.md"));
  std::vector<std::string> examples;
  bool inBlock = false;
  bool isExample = false;
  std::string block;
  for (std::string line; std::getline(guide, line);) {
    if (line.rfind("```", 0) != 0) {
      block += inBlock ? line + "\n" : "";
      continue;
    }
    if (inBlock && isExample) {
      examples.push_back(block);
    }
    isExample = !inBlock && line == "```";
    inBlock = !inBlock;
    block.clear();
  }
  return examples;
}

TEST(ExampleScenes, EveryExampleInTheGuideRendersWhenPasted) {
  const std::vector<std::string> examples = guideExamples();
  ASSERT_GE(examples.size(), 8u);
  ScratchDirectory dir;
  for (const std::string &example : examples) {
    dir.write("pasted.txt", example);
    const ProgramResult result =
        runProgram(RAYTRACER_BINARY, {"pasted.txt", "out.bmp", "2", "1"}, dir.path());
    EXPECT_EQ(result.out, "100%     \r") << example;
    EXPECT_EQ(result.status, 0) << example;
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
