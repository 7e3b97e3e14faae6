// obj2scene as a user runs it: convert an OBJ file, then render the result
// with the real raytracer.

#include <gtest/gtest.h>

#include <filesystem>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

// A square in the z = -5 plane, facing the default camera, as one quad.
const std::string kSquareObj = "# square\nv -1 -1 -5\nv 1 -1 -5\nv 1 1 -5\nv -1 1 -5\n"
                               "vn 0 0 1\nf 1//1 2//1 3//1 4//1\n";

const std::string kLights = "ambientLight\n0.1 0.1 0.1\ndirectionLight\n1 1 1\n0.3 0.2 1\n";

TEST(Obj2Scene, ConvertedMeshRendersLikeTheSameTrianglesWrittenByHand) {
  ScratchDirectory dir;
  dir.write("square.obj", kSquareObj);
  const ProgramResult convert =
      runProgram(OBJ2SCENE_BINARY, {"square.obj", "mesh.txt", "--keep-size"}, dir.path());
  EXPECT_EQ(convert.out, "Wrote 2 triangles to mesh.txt\n");
  ASSERT_EQ(convert.status, 0);

  // A user adds lights in front of the converted mesh.
  dir.write("converted.txt", kLights + readFile(dir.path() / "mesh.txt"));
  dir.write("by-hand.txt", kLights + "material\n0.8 0.75 0.7\n30\n0.1\n"
                                     "triangle\n-1 -1 -5\n1 -1 -5\n1 1 -5\n"
                                     "triangle\n-1 -1 -5\n1 1 -5\n-1 1 -5\n");
  for (const char *name : {"converted", "by-hand"}) {
    const ProgramResult render =
        runProgram(RAYTRACER_BINARY,
                   {std::string(name) + ".txt", std::string(name) + ".bmp", "16", "2"}, dir.path());
    EXPECT_EQ(render.out, "50%     \r100%     \r");
    EXPECT_EQ(render.status, 0);
  }
  const std::string image = readFile(dir.path() / "converted.bmp");
  EXPECT_EQ(image.size(), 54u + 16u * 2u * 3u);
  EXPECT_NE(image.find_first_not_of('\0', 54), std::string::npos) << "the square is lit";
  EXPECT_EQ(image, readFile(dir.path() / "by-hand.bmp"));
}

TEST(Obj2Scene, FramedSceneOnStandardOutputRendersWithoutError) {
  ScratchDirectory dir;
  dir.write("square.obj", kSquareObj);
  const ProgramResult convert = runProgram(
      OBJ2SCENE_BINARY, {"square.obj", "-", "--size", "0.1", "--frame", "--floor"}, dir.path());
  ASSERT_EQ(convert.status, 0);
  // Warnings become comments, so the output is still a scene.
  EXPECT_NE(convert.out.find("\n# Warning: 2 of 2 triangles are too small"), std::string::npos);
  dir.write("scene.txt", convert.out);
  const ProgramResult render =
      runProgram(RAYTRACER_BINARY, {"scene.txt", "out.bmp", "4", "1"}, dir.path());
  EXPECT_EQ(render.out, "100%     \r");
  EXPECT_EQ(render.status, 0);
}

TEST(Obj2Scene, FailuresPrintOneLineExitWithOneAndWriteNothing) {
  ScratchDirectory dir;
  dir.write("square.obj", kSquareObj);
  dir.write("bad.obj", "v 0 0 0\nv 1 0 0\nf 1 2 3\n");
  const std::string usage = std::string("Usage: ") + OBJ2SCENE_BINARY +
                            " input.obj output.txt [--size N | --keep-size] [--frame] [--floor]\n";
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{}, usage},
      {{"square.obj"}, usage},
      {{"square.obj", "out.txt", "--shiny"}, usage},
      {{"square.obj", "out.txt", "--size"}, usage},
      {{"square.obj", "out.txt", "--size", "-2"},
       "Invalid size '-2': expected a number above 0 and at most 1000000\n"},
      {{"missing.obj", "out.txt"}, "Error opening input file missing.obj\n"},
      {{".", "out.txt"}, "Error reading input file .\n"},
      {{"bad.obj", "out.txt"},
       "Line 3: face refers to vertex 3, but the file defines only 2 "
       "vertices\n"},
      {{"square.obj", "no-such-folder/out.txt"},
       "Error writing output file no-such-folder/out.txt\n"},
  };
  for (const auto &[args, message] : cases) {
    EXPECT_TRUE(refusedWith(runProgram(OBJ2SCENE_BINARY, args, dir.path()), message,
                            dir.path() / "out.txt"));
  }
  if (fs::exists("/dev/full")) {
    const ProgramResult full =
        runProgram(OBJ2SCENE_BINARY, {"square.obj", "/dev/full"}, dir.path());
    EXPECT_EQ(full.out, "Error writing output file /dev/full\n");
    EXPECT_EQ(full.status, 1);
  }
}

} // namespace
