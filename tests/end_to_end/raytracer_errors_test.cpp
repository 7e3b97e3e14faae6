// The renderer on arguments, scenes and outputs that go wrong: damaged, huge
// or random scene files, sizes it cannot make, outputs that cannot take a
// picture. Every run either renders what the scene says or stops with exactly
// one message and status 1, leaving no picture.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

const std::string kSphere = "material\n1 1 1\n10\n0\nsphere\n0 0 -10\n4\n";

ProgramResult run(const ScratchDirectory &dir, const std::vector<std::string> &args,
                  const ChildSetup &setup = {}) {
  return runProgram(RAYTRACER_BINARY, args, dir.path(), setup);
}

TEST(CommandLine, UsageAndUnusableSizesAreRefusedBeforeTheSceneIsRead) {
  ScratchDirectory dir;
  const std::string usage =
      std::string("Usage: ") + RAYTRACER_BINARY + " inputFile outputFile imageWidth imageHeight\n";
  const auto invalid = [](const std::string &which, const std::string &value) {
    return "Invalid image " + which + " '" + value +
           "': expected a whole number from 1 to 2147483647\n";
  };
  const auto tooLarge = [](const std::string &width, const std::string &height) {
    return "Image too large: " + width + " x " + height +
           " pixels do not fit in a BMP file of at most 2147483647 bytes\n";
  };
  // The scene does not exist: a size message proves the sizes were checked
  // first, and its message that they passed.
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, usage},
      {{"missing.txt", "out.bmp", "1", "1", "extra"}, usage},
      {{"missing.txt", "out.bmp", "abc", "4"}, invalid("width", "abc")},
      {{"missing.txt", "out.bmp", "4", "0"}, invalid("height", "0")},
      {{"missing.txt", "out.bmp", "-5", "4"}, invalid("width", "-5")},
      {{"missing.txt", "out.bmp", "2147483648", "4"}, invalid("width", "2147483648")},
      {{"missing.txt", "out.bmp", "4", "99999999999"}, invalid("height", "99999999999")},
      // The largest square whose file size fits in 31 bits, and the next.
      {{"missing.txt", "out.bmp", "26754", "26754"}, "Error opening input file missing.txt\n"},
      {{"missing.txt", "out.bmp", "26755", "26755"}, tooLarge("26755", "26755")},
      {{"missing.txt", "out.bmp", "2147483647", "1"}, tooLarge("2147483647", "1")},
      // Products of two sizes this large pass 2^63: found by fuzzing.
      {{"missing.txt", "out.bmp", "2147483647", "2147483647"},
       tooLarge("2147483647", "2147483647")},
      {{"missing.txt", "out.bmp", "2147482648", "2146483648"},
       tooLarge("2147482648", "2146483648")},
  };
  for (const auto &[args, message] : cases) {
    EXPECT_TRUE(refusedWith(run(dir, args), message, dir.path() / "out.bmp"));
  }
}

TEST(SceneErrors, DamagedAndHugeScenesStopWithOneLineAndNoPicture) {
  ScratchDirectory dir;
  const std::string huge(10 << 20, 'x');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"# scene\nsphere\n0 zero -5\n1\n", "Line 2: Bad number in sphere\n"},
      {"material\n1 1 1\n1e400\n0\n", "Line 1: Bad number in material\n"},
      {"sphere\n0 0 -5\n1e\n", "Line 1: Bad number in sphere\n"},
      // Inside a number list a NUL is neither white space nor part of a number.
      {std::string("sphere\n0 0\0 -10\n4\n", 18), "Line 1: Bad number in sphere\n"},
      // Ten-megabyte lines show only their first 255 characters.
      {huge + "\n" + kSphere, "Line 1: Unexpected command " + std::string(255, 'x') + "\n"},
      {"\n#" + huge + "\n" + kSphere, "Line 2: Line longer than 255 characters\n"},
      // The space after the radius is discarded; the rest of its line is not blank.
      {kSphere.substr(0, kSphere.size() - 1) + std::string(10 << 20, ' ') + "\n",
       "Line 8: Unexpected command " + std::string(255, ' ') + "\n"},
  };
  for (const auto &[scene, message] : cases) {
    dir.write("scene.txt", scene);
    EXPECT_TRUE(
        refusedWith(run(dir, {"scene.txt", "out.bmp", "2", "2"}), message, dir.path() / "out.bmp"))
        << scene.substr(0, 40);
  }
  fs::create_directory(dir.path() / "scenes");
  EXPECT_TRUE(refusedWith(run(dir, {"scenes", "out.bmp", "2", "2"}),
                          "Error reading input file scenes\n", dir.path() / "out.bmp"));
  // A sparse file beyond two gigabytes: refused by its size without reading it.
  fs::resize_file(dir.write("big.txt", ""), 2147483648u);
  EXPECT_TRUE(refusedWith(run(dir, {"big.txt", "out.bmp", "2", "2"}),
                          "Input file too large: big.txt is more than 2147483647 bytes\n",
                          dir.path() / "out.bmp"));
}

TEST(SceneErrors, RandomBytesStopWithOneLineNumberedMessage) {
  ScratchDirectory dir;
  for (unsigned seed = 1; seed <= 16; ++seed) {
    // mt19937's output is fixed by the language, so the files are the same
    // everywhere.
    std::mt19937 random(seed);
    std::string bytes(4096, '\0');
    std::generate(bytes.begin(), bytes.end(), [&] { return char(random() & 0xff); });
    dir.write("noise.bin", bytes);
    const ProgramResult result = run(dir, {"noise.bin", "out.bmp", "2", "2"});
    const std::string firstLine = result.out.substr(0, result.out.find('\n') + 1);
    EXPECT_EQ(firstLine.rfind("Line ", 0), 0u) << "seed " << seed;
    EXPECT_TRUE(refusedWith(result, firstLine, dir.path() / "out.bmp")) << "seed " << seed;
  }
}

TEST(SceneErrors, ACutCommandOrJunkAfterANulInAKeywordLineStillRenders) {
  ScratchDirectory dir;
  // The keyword's line text ends at the NUL, so the junk after it is ignored.
  for (const std::string &scene : {std::string("sphere\0junk\n0 0 -10\n4\n", 22),
                                   std::string("material\n1 1 1\n0\n0\nsphere\n0 0")}) {
    dir.write("scene.txt", scene);
    EXPECT_EQ(run(dir, {"scene.txt", "out.bmp", "1", "1"}), (ProgramResult{"100%     \r", 0}));
  }
}

TEST(HostileInput, InfiniteValuesClampToFullNaNChannelsAreBlackAndNothingFaults) {
  ScratchDirectory dir;
  // 1e39 is beyond float range: the ambient light is (inf, 0.5, inf). On the
  // sphere, red is 0 * inf = NaN (stored as 0), green 0.5 (127) and blue
  // inf (clamped to 255). The sphere fills the whole 3 x 3 picture.
  dir.write("scene.txt",
            "ambientLight\n1e39 0.5 1e39\nmaterial\n0 1 1\n0\n0\nsphere\n0 0 -10\n4\n");
  ASSERT_EQ(run(dir, {"scene.txt", "out.bmp", "3", "3"}).status, 0);
  const std::string pixel("\xff\x7f\x00", 3); // stored blue, green, red
  const std::string row = pixel + pixel + pixel + std::string(3, '\0');
  EXPECT_EQ(readFile(dir.path() / "out.bmp").substr(54), row + row + row);

  // Infinite camera, lights, shapes and material values: the arithmetic makes
  // infinities and NaNs everywhere, and the picture is still written.
  dir.write("scene.txt", "camera\n1e39 0 0\n0 -1e39 -1\n0 1 1e39\n1e39\n"
                         "ambientLight\n1e39 -1e39 1\n"
                         "directionLight\n1e39 1e39 1e39\n-1e39 0 1\n"
                         "pointLight\n1e39 1 1\n0 1e39 0\n"
                         "material\n1e39 -1e39 1\n1e39\n1e39\n"
                         "sphere\n0 0 -5\n1e39\n"
                         "triangle\n-1e39 0 0\n0 1e39 0\n0 0 -1e39\n");
  EXPECT_EQ(run(dir, {"scene.txt", "out.bmp", "4", "2"}),
            (ProgramResult{"50%     \r100%     \r", 0}));
  EXPECT_EQ(readFile(dir.path() / "out.bmp").size(), 54u + 12u * 2u);
}

TEST(HostileInput, MillionCoincidentSpheresRenderOrRunOutOfMemoryWithAMessage) {
  // A cheap stand-in for scenes of ten million shapes: a long shape list must
  // neither exhaust the stack nor trip up a shape-query structure when every
  // shape is in the same place.
  ScratchDirectory dir;
  std::string scene = "ambientLight\n1 1 1\nmaterial\n1 0.5 0\n0\n0\n";
  for (int i = 0; i < 1000000; ++i) {
    scene += "sphere\n0 0 -10\n4\n";
  }
  dir.write("spheres.txt", scene);
  EXPECT_EQ(run(dir, {"spheres.txt", "out.bmp", "1", "1"}), (ProgramResult{"100%     \r", 0}));
  EXPECT_EQ(readFile(dir.path() / "out.bmp").substr(54), std::string("\x00\x7f\xff\x00", 4));
#ifndef RAYTRACER_SANITIZED // AddressSanitizer reserves more address space than this
  // They need far more than 32 MiB.
  EXPECT_TRUE(refusedWith(run(dir, {"spheres.txt", "new.bmp", "2", "2"}, memoryLimit(32u << 20)),
                          "Not enough memory to load input file spheres.txt\n",
                          dir.path() / "new.bmp"));
#endif
}

TEST(OutputErrors, UnwritableOutputsAreReportedAndLeftAsTheyWere) {
  ScratchDirectory dir;
  dir.write("scene.txt", kSphere);
  const std::string cannotOpen = "100%     \rCould not open file for writing : ";
  std::vector<std::pair<fs::path, std::string>> outputs;
  // Root may write a file whatever its mode bits, but a read-only kernel
  // attribute refuses everyone, so a CI machine running as root checks too.
  if (geteuid() != 0) {
    fs::permissions(dir.write("locked.bmp", "keep me"), fs::perms::owner_read);
    outputs.emplace_back("locked.bmp", cannotOpen);
  }
  if (fs::exists("/sys/devices/system/cpu/online")) {
    outputs.emplace_back("/sys/devices/system/cpu/online", cannotOpen);
  }
  // A full disk is a failure, not success.
  if (fs::exists("/dev/full")) {
    outputs.emplace_back("/dev/full", "100%     \rCould not write file : ");
  }
  for (const auto &[output, message] : outputs) {
    const fs::path where = dir.path() / output; // an absolute output stays itself
    const bool device = output == "/dev/full";
    const std::string before = device ? "" : readFile(where);
    EXPECT_EQ(run(dir, {"scene.txt", output.string(), "2", "1"}),
              (ProgramResult{message + output.string() + "\n", 1}));
    EXPECT_EQ(device ? "" : readFile(where), before) << output;
  }
  // A loop of links names no file; the link is not replaced by the picture.
  fs::create_symlink("loop", dir.path() / "loop");
  EXPECT_EQ(run(dir, {"scene.txt", "loop", "2", "1"}).out, cannotOpen + "loop\n");
  EXPECT_TRUE(fs::is_symlink(dir.path() / "loop"));
}

} // namespace
