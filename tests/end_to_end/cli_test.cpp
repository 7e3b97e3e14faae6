// Messages, exit statuses and files for the ways a run can go wrong, and the
// argument forms a user may type.

#include <gtest/gtest.h>

#include <filesystem>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

const std::string kWorkedExample = "ambientLight\n0.1 0.1 0.1\n"
                                   "directionLight\n1 1 1\n0 0 1\n"
                                   "material\n1 1 1\n10\n0.5\n"
                                   "sphere\n0 0 -5\n1\n";

ProgramResult run(const ScratchDirectory &dir, const std::vector<std::string> &args) {
  return runProgram(RAYTRACER_BINARY, args, dir.path());
}

TEST(CommandLine, WrongArgumentCountPrintsUsageWithProgramName) {
  ScratchDirectory dir;
  const std::string usage =
      std::string("Usage: ") + RAYTRACER_BINARY + " inputFile outputFile imageWidth imageHeight\n";
  EXPECT_TRUE(refusedWith(run(dir, {}), usage, dir.path() / "b"));
  EXPECT_TRUE(refusedWith(run(dir, {"a", "b", "1", "1", "extra"}), usage, dir.path() / "b"));
}

TEST(CommandLine, UnusableSizesAreRefusedBeforeTheSceneIsRead) {
  ScratchDirectory dir;
  // The scene does not exist: a size message proves the sizes were checked first.
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"abc", "4"}, "Invalid image width 'abc': expected a whole number from 1 to 2147483647\n"},
      {{"4", "0"}, "Invalid image height '0': expected a whole number from 1 to 2147483647\n"},
      {{"-5", "4"}, "Invalid image width '-5': expected a whole number from 1 to 2147483647\n"},
      {{"4", "99999999999"},
       "Invalid image height '99999999999': expected a whole number from 1 to 2147483647\n"},
      {{"65536", "65536"},
       "Image too large: 65536 x 65536 pixels do not fit in a BMP file of "
       "at most 2147483647 bytes\n"},
      // Products of two sizes this large pass 2^63: found by fuzzing.
      {{"2147483647", "2147483647"},
       "Image too large: 2147483647 x 2147483647 pixels do not fit in a BMP file of "
       "at most 2147483647 bytes\n"},
  };
  for (const auto &[sizes, message] : cases) {
    EXPECT_TRUE(refusedWith(run(dir, {"missing.txt", "out.bmp", sizes[0], sizes[1]}), message,
                            dir.path() / "out.bmp"));
  }
}

TEST(SceneErrors, UnreadableNumbersOverlongCommentsAndDirectoriesStopTheLoad) {
  ScratchDirectory dir;
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"# scene\nsphere\n0 zero -5\n1\n", "Line 2: Bad number in sphere\n"},
      {"material\n1 1 1\n1e400\n0\n", "Line 1: Bad number in material\n"},
      {"sphere\n0 0 -5\n1e\n", "Line 1: Bad number in sphere\n"},
      {"\n#" + std::string(300, 'c') + "\nsphere\n0 0 -5\n1\n",
       "Line 2: Line longer than 255 characters\n"},
  };
  for (const auto &[scene, message] : cases) {
    dir.write("scene.txt", scene);
    EXPECT_TRUE(
        refusedWith(run(dir, {"scene.txt", "out.bmp", "2", "2"}), message, dir.path() / "out.bmp"))
        << scene;
  }
  fs::create_directory(dir.path() / "scenes");
  EXPECT_TRUE(refusedWith(run(dir, {"scenes", "out.bmp", "2", "2"}),
                          "Error reading input file scenes\n", dir.path() / "out.bmp"));
}

TEST(SceneErrors, InputEndingInsideACommandStillLoads) {
  ScratchDirectory dir;
  dir.write("scene.txt", "material\n1 1 1\n0\n0\nsphere\n0 0");
  const ProgramResult result = run(dir, {"scene.txt", "out.bmp", "1", "1"});
  EXPECT_EQ(result.out, "100%     \r");
  EXPECT_EQ(result.status, 0);
}

TEST(OutputErrors, FullDiskIsAFailureNotSuccess) {
  if (!fs::exists("/dev/full")) {
    GTEST_SKIP() << "no /dev/full on this system";
  }
  ScratchDirectory dir;
  dir.write("scene.txt", kWorkedExample);
  const ProgramResult result = run(dir, {"scene.txt", "/dev/full", "2", "1"});
  EXPECT_EQ(result.out, "100%     \rCould not write file : /dev/full\n");
  EXPECT_EQ(result.status, 1);
}

} // namespace
