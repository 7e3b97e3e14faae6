// scenetool check on the real binary: one small scene per kind of mistake,
// reported on the line of the command concerned; the bundled scenes and the
// guide's complete examples report nothing and render; the guide's fragments
// render alone and each get a line that says why they render black.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

ProgramResult check(const std::string &scene, std::vector<std::string> size = {}) {
  ScratchDirectory dir;
  dir.write("s.txt", scene);
  std::vector<std::string> args = {"check", "s.txt"};
  args.insert(args.end(), size.begin(), size.end());
  return runProgram(SCENETOOL_BINARY, args, dir.path());
}

// Lines 1-5, 6-8 and 9-12.
const std::string kCamera = "camera\n0 2 8\n0 1 0\n0 1 0\n40\n";
const std::string kSun = "directionLight\n1 1 1\n0 1 1\n";
const std::string kGrey = "material\n0.5 0.5 0.5\n10\n0\n";
const std::string kLit = kCamera + kSun + kGrey;
const std::string kBall = "sphere\n0 1 0\n1\n";

TEST(ScenetoolCheck, ReportsEachKindOfMistakeOnItsLine) {
  // A scene and the start of one line of what check prints for it.
  const std::pair<std::string, std::string> cases[] = {
      {kCamera + kSun + kBall + kGrey + kBall,
       "s.txt:9: sphere comes before any material, so it is black; put a material"},
      {kCamera + kSun + "material\n0 0 0\n10\n0\n" + kBall,
       "s.txt:13: sphere has a material of colour 0 0 0"},
      {kCamera + kGrey + kBall, "s.txt:1: the scene has no lights and no ambient"},
      {kCamera + kSun, "s.txt:1: the scene has no shapes"},
      {kCamera + kGrey + kBall + "pointLight\n9 9 9\n0 1 0\n",
       "s.txt:13: pointLight lights no surface the camera sees"},
      {kCamera + "directionLight\n1 1 1\n0 -1 0\n" + kGrey + kBall +
           "triangle\n-9 0 -9\n-9 0 9\n9 0 9\ntriangle\n-9 0 -9\n9 0 9\n9 0 -9\n",
       "s.txt:6: directionLight lights no surface the camera sees"},
      {kCamera + "pointLight\n1 1 1\n0 30 0\n" + kGrey + kBall,
       "s.txt:6: pointLight adds less than one byte step where it lights (at most 0.00122"},
      {kLit + "triangle\n0 0 0\n1 0 0\n2 0 0\n", "s.txt:13: triangle is degenerate"},
      {kLit + "triangle\n0 0 0\n0.05 0 0\n0 0.1 0\n",
       "s.txt:13: triangle is too small for the hit test (|edge1 x edge2| = 0.005"},
      {kLit + "triangle\n0 0 0\n0.1 0 0\n0 0.15 0\n",
       "s.txt:13: triangle is small for the hit test (|edge1 x edge2| below 0.02), so it is "
       "missed when seen more than 60 degrees"},
      {kLit + "triangle\n-1 0 0\n0 2 0\n1 0 0\n",
       "s.txt:13: triangle is seen from behind and every light is behind it too"},
      {"camera\n0 2 8\n0 2 8\n0 1 0\n40\n" + kSun + kGrey + kBall,
       "s.txt:1: camera's look-at point equals its eye"},
      {"camera\n0 2 8\n0 2 0\n0 0 -1\n40\n" + kSun + kGrey + kBall,
       "s.txt:1: camera's up vector is zero or parallel"},
      {"camera\n0 2 8\n0 1 0\n0 1 0\n180\n" + kSun + kGrey + kBall,
       "s.txt:1: camera's field of view 180 is not between 0 and 180"},
      {"camera\n0 2 8\n0 1 0\n0 1 0\n0\n" + kSun + kGrey + kBall,
       "s.txt:1: camera's field of view 0 is not"},
      {kLit + "sphere\n0 2 8\n3\n", "s.txt:1: camera's eye is inside the sphere of line 13"},
      {kLit + "sphere\n0 1 0\n1e39\n", "s.txt:13: sphere has a number beyond the range of a float"},
      {kLit + kBall + "pointLight\n1e39 1 1\n0 5 0\n",
       "s.txt:16: light has a number beyond the range of a float"},
      {"camera\n0 2 1e39\n0 1 0\n0 1 0\n40\n" + kSun + kGrey + kBall,
       "s.txt:1: camera has a number beyond the range of a float"},
      {kLit + kBall + "directionLight\n1 1 1\n0 0 0\n",
       "s.txt:16: directionLight has a zero direction, so it lights nothing"},
      {kLit + kBall + "sphere\n50 1 0\n1\n",
       "s.txt:16: sphere lies outside the picture, so no ray reaches it"},
      {"camera\n0 2 8\n0 2 20\n0 1 0\n40\n" + kSun + kGrey + kBall,
       "s.txt:1: the camera sees no shape: every ray of a 160x120 picture misses; point the "
       "camera at the shapes (they lie around 0 1 0)"},
  };
  for (const auto &[scene, expected] : cases) {
    const ProgramResult result = check(scene);
    EXPECT_EQ(result.status, 1) << expected << "\n" << result.out;
    EXPECT_NE(("\n" + result.out).find("\n" + expected), std::string::npos) << result.out;
  }
}

TEST(ScenetoolCheck, GroupsRepeatsAndCountsLinesAsAnEditorDoes) {
  // The first sphere's numbers share one line, so the file's lines run one
  // behind the loader's nominal count from there on.
  std::string scene = kCamera + kSun + "sphere\n0 1 0 1\n";
  for (int i = 0; i < 5; ++i) {
    scene += "\n" + kBall;
  }
  EXPECT_EQ(check(scene + kGrey + kBall),
            (ProgramResult{"s.txt:9: 6 shapes come before any material, so they are black (lines "
                           "9-28); put a material command before the shapes\n"
                           "s.txt: 1 finding; 93.5729% of a 160x120 render is pure black\n",
                           1}));
}

TEST(ScenetoolCheck, UnloadableScenesAndBadArgumentsGiveStatus2) {
  // The loader's own message, as the renderer prints it.
  EXPECT_EQ(check(kCamera + "sphere\n0 x 0\n1\n"),
            (ProgramResult{"Line 6: Bad number in sphere\n", 2}));
  EXPECT_EQ(check(kLit + kBall, {"0", "10"}),
            (ProgramResult{
                "Invalid image width '0': expected a whole number from 1 to 2147483647\n", 2}));
  EXPECT_EQ(check(kLit + kBall, {"10"}).status, 2);
}

#ifndef RAYTRACER_SANITIZED
// The probe keeps no picture: a size whose raster would not fit in the
// memory still gives every finding (it used to drop them and report none).
TEST(ScenetoolCheck, ProbesSizesBeyondTheMemoryWithoutARaster) {
  ScratchDirectory dir;
  dir.write("s.txt", "camera\n0 2 8\n0 2 20\n0 1 0\n40\n" + kSun + kGrey + kBall);
  EXPECT_EQ(runProgram(SCENETOOL_BINARY, {"check", "s.txt", "3000", "3000"}, dir.path(),
                       memoryLimit(std::size_t(40) << 20)),
            (ProgramResult{"s.txt:1: the camera sees no shape: every ray of a 3000x3000 picture "
                           "misses; point the camera at the shapes (they lie around 0 1 0)\n"
                           "s.txt: 1 finding; 100% of a 3000x3000 render is pure black\n",
                           1}));
}
#endif

// A scene to paste and the finding check reports for it ("" when clean).
struct Example {
  std::string text;
  std::string finding;
};

// The guide's scene examples are its code blocks without a language tag.
// Fragments say so on their first line ("# Fragment: ...") and report why
// they render black.
std::vector<Example> guideExamples() {
  std::istringstream guide(readFile(fs::path(DOCS_DIR) / "scene-format.md"));
  std::vector<Example> examples;
  bool inBlock = false;
  bool isExample = false;
  std::string block;
  for (std::string line; std::getline(guide, line);) {
    if (line.rfind("```", 0) != 0) {
      block += inBlock ? line + "\n" : "";
      continue;
    }
    if (inBlock && isExample) {
      examples.push_back({block, block.rfind("# Fragment:", 0) == 0 ? "so every" : ""});
    }
    isExample = !inBlock && line == "```";
    inBlock = !inBlock;
    block.clear();
  }
  return examples;
}

// Every example of the guide and every bundled scene renders when pasted
// alone; the clean ones show something.
TEST(ScenetoolCheck, BundledScenesAndTheGuidesExamplesRenderAndOnlyFragmentsHaveFindings) {
  std::vector<Example> examples = guideExamples();
  ASSERT_GE(examples.size(), 8u);
  for (const auto &entry : fs::directory_iterator(SCENES_DIR)) {
    // The winding scene shows a wrongly wound pyramid on purpose.
    if (entry.path().extension() == ".txt") {
      examples.push_back({readFile(entry.path()),
                          entry.path().filename() != "winding.txt"
                              ? ""
                              : "s.txt:63: triangle is seen from behind and every light is behind "
                                "it too, so it shows black; swap two corners of each "
                                "(counter-clockwise seen from the front)\ns.txt: 1 finding;"});
    }
  }
  ScratchDirectory dir;
  for (const Example &example : examples) {
    dir.write("pasted.txt", example.text);
    const ProgramResult render =
        runProgram(RAYTRACER_BINARY, {"pasted.txt", "out.bmp", "32", "24"}, dir.path());
    EXPECT_EQ(render.out.substr(render.out.size() - 10), "100%     \r") << example.text;
    EXPECT_EQ(render.status, 0) << example.text;
    const ProgramResult result = check(example.text);
    EXPECT_EQ(result.status, example.finding.empty() ? 0 : 1) << example.text << result.out;
    EXPECT_NE(result.out.find(example.finding), std::string::npos) << example.text << result.out;
    if (example.finding.empty()) {
      const std::string pixels = readFile(dir.path() / "out.bmp").substr(54);
      EXPECT_NE(pixels.find_first_not_of('\0'), std::string::npos) << example.text;
    }
  }
}

} // namespace
