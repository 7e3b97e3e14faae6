// Scene files that are damaged, huge or made of anything at all, and output
// paths that cannot take a picture: every run either renders what the scene
// says or stops with exactly one message and status 1, leaving no picture.

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
                  std::size_t addressSpaceBytes = 0) {
  return runProgram(RAYTRACER_BINARY, args, dir.path(), addressSpaceBytes);
}

// Runs `scene` at 2 x 2 and expects it to fail with `message` and no picture.
void expectRefused(const std::string &scene, const std::string &message) {
  ScratchDirectory dir;
  dir.write("scene.txt", scene);
  EXPECT_TRUE(
      refusedWith(run(dir, {"scene.txt", "out.bmp", "2", "2"}), message, dir.path() / "out.bmp"));
}

TEST(HostileInput, RandomBytesStopWithOneLineNumberedMessage) {
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

TEST(HostileInput, TenMegabyteLinesShowOnlyTheirFirst255Characters) {
  const std::string huge(10 << 20, 'x');
  expectRefused(huge + "\n" + kSphere,
                "Line 1: Unexpected command " + std::string(255, 'x') + "\n");
  expectRefused("#" + huge + "\n" + kSphere, "Line 1: Line longer than 255 characters\n");
  // The space after the radius is discarded; the rest of its line is not blank.
  expectRefused(kSphere.substr(0, kSphere.size() - 1) + std::string(10 << 20, ' ') + "\n",
                "Line 8: Unexpected command " + std::string(255, ' ') + "\n");
}

TEST(HostileInput, NulBytesEndALinesTextButNotANumber) {
  // The keyword's line text ends at the NUL, so the junk after it is ignored.
  ScratchDirectory dir;
  dir.write("scene.txt", std::string("sphere\0junk\n0 0 -10\n4\n", 22));
  const ProgramResult result = run(dir, {"scene.txt", "out.bmp", "1", "1"});
  EXPECT_EQ(result.out, "100%     \r");
  EXPECT_EQ(result.status, 0);
  // Inside a number list a NUL is neither white space nor part of a number.
  expectRefused(std::string("sphere\n0 0\0 -10\n4\n", 18), "Line 1: Bad number in sphere\n");
}

TEST(HostileInput, InfiniteValuesClampToFullAndNaNChannelsAreBlack) {
  ScratchDirectory dir;
  // 1e39 is beyond float range: the ambient light is (inf, 0.5, inf). On the
  // sphere, red is 0 * inf = NaN (stored as 0), green 0.5 (127) and blue
  // inf (clamped to 255). The sphere fills the whole 3 x 3 picture.
  dir.write("scene.txt",
            "ambientLight\n1e39 0.5 1e39\nmaterial\n0 1 1\n0\n0\nsphere\n0 0 -10\n4\n");
  const ProgramResult result = run(dir, {"scene.txt", "out.bmp", "3", "3"});
  ASSERT_EQ(result.status, 0) << result.out;
  const std::string pixel("\xff\x7f\x00", 3); // stored blue, green, red
  const std::string row = pixel + pixel + pixel + std::string(3, '\0');
  EXPECT_EQ(readFile(dir.path() / "out.bmp").substr(54), row + row + row);
}

TEST(HostileInput, SceneOfInfinitiesRendersWithoutFault) {
  // Infinite camera, lights, shapes and material values: the arithmetic makes
  // infinities and NaNs everywhere, and the picture is still written.
  ScratchDirectory dir;
  dir.write("scene.txt", "camera\n1e39 0 0\n0 -1e39 -1\n0 1 1e39\n1e39\n"
                         "ambientLight\n1e39 -1e39 1\n"
                         "directionLight\n1e39 1e39 1e39\n-1e39 0 1\n"
                         "pointLight\n1e39 1 1\n0 1e39 0\n"
                         "material\n1e39 -1e39 1\n1e39\n1e39\n"
                         "sphere\n0 0 -5\n1e39\n"
                         "triangle\n-1e39 0 0\n0 1e39 0\n0 0 -1e39\n");
  const ProgramResult result = run(dir, {"scene.txt", "out.bmp", "4", "2"});
  EXPECT_EQ(result.out, "50%     \r100%     \r");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(dir.path() / "out.bmp").size(), 54u + 12u * 2u);
}

TEST(HostileInput, InputBeyondTwoGigabytesIsRefusedWithoutReadingIt) {
  ScratchDirectory dir;
  // A sparse file: its size is known at once and it takes no disk space.
  const fs::path big = dir.write("big.txt", "");
  fs::resize_file(big, 2147483648u);
  EXPECT_TRUE(refusedWith(run(dir, {"big.txt", "out.bmp", "2", "2"}),
                          "Input file too large: big.txt is more than 2147483647 bytes\n",
                          dir.path() / "out.bmp"));
}

TEST(HostileInput, MillionCoincidentSpheresLoadAndRender) {
  // A cheap stand-in for scenes of ten million shapes: a long shape list must
  // neither exhaust the stack nor trip up a shape-query structure when every
  // shape is in the same place.
  ScratchDirectory dir;
  std::string scene = "ambientLight\n1 1 1\nmaterial\n1 0.5 0\n0\n0\n";
  for (int i = 0; i < 1000000; ++i) {
    scene += "sphere\n0 0 -10\n4\n";
  }
  dir.write("spheres.txt", scene);
  const ProgramResult result = run(dir, {"spheres.txt", "out.bmp", "1", "1"});
  EXPECT_EQ(result.out, "100%     \r");
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(readFile(dir.path() / "out.bmp").substr(54), std::string("\x00\x7f\xff\x00", 4));
}

TEST(HostileInput, RunningOutOfMemoryWhileLoadingIsReported) {
#ifdef RAYTRACER_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  // Two million spheres need far more than the 128 MiB the program may use.
  ScratchDirectory dir;
  std::string scene;
  for (int i = 0; i < 2000000; ++i) {
    scene += "sphere\n0 0 -5\n1\n";
  }
  dir.write("spheres.txt", scene);
  EXPECT_TRUE(refusedWith(run(dir, {"spheres.txt", "out.bmp", "2", "2"}, 128u << 20),
                          "Not enough memory to load input file spheres.txt\n",
                          dir.path() / "out.bmp"));
}

TEST(OutputErrors, UnwritableOutputsAreReportedAndLeftAsTheyWere) {
  ScratchDirectory dir;
  dir.write("scene.txt", kSphere);
  fs::create_directory(dir.path() / "pictures");
  std::vector<fs::path> outputs = {"pictures"};
  // Root may write a file whatever its mode bits, but a read-only kernel
  // attribute refuses everyone, so a CI machine running as root checks too.
  if (geteuid() != 0) {
    fs::permissions(dir.write("locked.bmp", "keep me"), fs::perms::owner_read);
    outputs.push_back("locked.bmp");
  }
  if (fs::exists("/sys/devices/system/cpu/online")) {
    outputs.push_back("/sys/devices/system/cpu/online");
  }
  for (const fs::path &output : outputs) {
    const fs::path where = dir.path() / output; // an absolute output stays itself
    const std::string before = fs::is_directory(where) ? "a directory" : readFile(where);
    const ProgramResult result = run(dir, {"scene.txt", output.string(), "2", "1"});
    EXPECT_EQ(result.out, "100%     \rCould not open file for writing : " + output.string() + "\n");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(fs::is_directory(where) ? "a directory" : readFile(where), before) << output;
  }
}

} // namespace
