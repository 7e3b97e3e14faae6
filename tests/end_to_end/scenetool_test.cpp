// scenetool as a user runs it: import meshes of every format, place them in
// a room, scale scenes, and every way it refuses, on the real binary.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

const std::string kTool = SCENETOOL_BINARY;
const fs::path kMeshes = MESHES_DIR;

ProgramResult runImport(std::vector<std::string> args, const fs::path &dir,
                        const ChildSetup &setup = {}) {
  args.insert(args.begin(), "import");
  return runProgram(kTool, args, dir, setup);
}

using Corner = std::array<double, 3>;
using Triangle = std::array<Corner, 3>;

// The triangles of scene text, each started at its smallest corner (which
// keeps its winding), sorted.
std::vector<Triangle> trianglesOf(const std::string &scene) {
  std::istringstream in(scene);
  std::vector<Triangle> triangles;
  for (std::string line; std::getline(in, line);) {
    if (line == "triangle") {
      Triangle t;
      for (Corner &c : t) {
        in >> c[0] >> c[1] >> c[2];
      }
      std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
      triangles.push_back(t);
    }
  }
  std::sort(triangles.begin(), triangles.end());
  return triangles;
}

const std::vector<Triangle> kTetrahedron = {
    {{{0, 0, 0}, {0, 0, 1}, {0, 2, 0}}},
    {{{0, 0, 0}, {0, 2, 0}, {4, 0, 0}}},
    {{{0, 0, 0}, {4, 0, 0}, {0, 0, 1}}},
    {{{0, 0, 1}, {4, 0, 0}, {0, 2, 0}}},
};

TEST(ScenetoolImport, EveryFormatGivesTheSameTrianglesWithTheirWinding) {
  ScratchDirectory dir;
  for (const char *name :
       {"tetra.obj", "tetra-ascii.ply", "tetra-binary.ply", "tetra-ascii.stl", "tetra-binary.stl",
        "tetra.off", "tetra.dae", "tetra.gltf", "tetra.glb", "tetra-draco.glb"}) {
    const ProgramResult result =
        runImport({(kMeshes / name).string(), "-", "--keep-size"}, dir.path());
    ASSERT_EQ(result.status, 0) << name << ": " << result.out;
    const std::vector<Triangle> triangles = trianglesOf(result.out);
    ASSERT_EQ(triangles.size(), kTetrahedron.size()) << name;
    // Draco stores positions quantized to 14 bits of the extent.
    const double tolerance = std::string(name).find("draco") != std::string::npos ? 1e-3 : 0.0;
    for (std::size_t t = 0; t < triangles.size(); ++t) {
      for (int c = 0; c < 3; ++c) {
        for (int k = 0; k < 3; ++k) {
          EXPECT_NEAR(triangles[t][c][k], kTetrahedron[t][c][k], tolerance) << name;
        }
      }
    }
  }
}

TEST(ScenetoolImport, ConcavePolygonsByteOrderMarksAndSkippedShapes) {
  ScratchDirectory dir;
  // The fan from the first corner of this hexagon would overlap itself.
  const ProgramResult concave =
      runImport({(kMeshes / "concave.obj").string(), "concave.txt", "--keep-size"}, dir.path());
  EXPECT_EQ(concave.out, "Skipped 1 point and 1 line: a scene shows only triangles\n"
                         "Wrote 4 triangles to concave.txt\n");
  EXPECT_EQ(trianglesOf(readFile(dir.path() / "concave.txt")),
            (std::vector<Triangle>{{{{0, 0, 0}, {1, 1, 0}, {1, 2, 0}}},
                                   {{{0, 0, 0}, {1, 2, 0}, {0, 2, 0}}},
                                   {{{0, 0, 0}, {2, 0, 0}, {2, 1, 0}}},
                                   {{{0, 0, 0}, {2, 1, 0}, {1, 1, 0}}}}));
  dir.write("bom.obj", "\xef\xbb\xbfv 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n");
  const ProgramResult bom = runImport({"bom.obj", "bom.txt"}, dir.path());
  EXPECT_EQ(bom.out, "Size 10 chosen so that 99% of the triangles are large enough to show "
                     "(--size N chooses another)\nWrote 1 triangle to bom.txt\n");
}

TEST(ScenetoolImport, AMeshLandsInAnExistingRoomWithAtAndSize) {
  ScratchDirectory dir;
  const ProgramResult result =
      runImport({(kMeshes / "tetra.obj").string(), "mesh.txt", "--size", "2", "--at", "1", "0.5",
                 "-5", "--up", "z", "--material", "1", "0", "0", "10", "0.5"},
                dir.path());
  ASSERT_EQ(result.status, 0) << result.out;
  EXPECT_EQ(result.out, "Wrote 4 triangles to mesh.txt\n");
  const std::string mesh = readFile(dir.path() / "mesh.txt");
  EXPECT_NE(mesh.find("material\n1 0 0\n10\n0.5\n"), std::string::npos);
  // Z-up: the file's z (0..1) is up, its y (0..2) comes towards the viewer
  // as -z; halved to a largest extent of 2 and stood on (1, 0.5, -5).
  EXPECT_EQ(trianglesOf(mesh), (std::vector<Triangle>{
                                   {{{0, 0.5, -5.5}, {0, 0.5, -4.5}, {0, 1, -4.5}}},
                                   {{{0, 0.5, -5.5}, {0, 1, -4.5}, {2, 0.5, -4.5}}},
                                   {{{0, 0.5, -5.5}, {2, 0.5, -4.5}, {0, 0.5, -4.5}}},
                                   {{{0, 0.5, -4.5}, {2, 0.5, -4.5}, {0, 1, -4.5}}},
                               }));
  // In a room, it renders exactly like the same triangles written by hand.
  const std::string room = "camera\n0 2 4\n0 1 -5\n0 1 0\n40\nambientLight\n0.2 0.2 0.2\n"
                           "directionLight\n1 1 1\n0.3 1 1\n";
  dir.write("imported.txt", room + mesh);
  dir.write("by-hand.txt", room + "material\n1 0 0\n10\n0.5\n"
                                  "triangle\n0 0.5 -4.5\n0 0.5 -5.5\n2 0.5 -4.5\n"
                                  "triangle\n0 0.5 -4.5\n2 0.5 -4.5\n0 1 -4.5\n"
                                  "triangle\n0 0.5 -4.5\n0 1 -4.5\n0 0.5 -5.5\n"
                                  "triangle\n2 0.5 -4.5\n0 0.5 -5.5\n0 1 -4.5\n");
  for (const std::string name : {"imported", "by-hand"}) {
    EXPECT_EQ(
        runProgram(RAYTRACER_BINARY, {name + ".txt", name + ".bmp", "16", "12"}, dir.path()).status,
        0);
  }
  const std::string image = readFile(dir.path() / "imported.bmp");
  EXPECT_NE(image.find_first_not_of('\0', 54), std::string::npos) << "the mesh is lit";
  EXPECT_EQ(image, readFile(dir.path() / "by-hand.bmp"));
}

TEST(ScenetoolImport, TheMeshSceneIsTheConvertedTorusKnot) {
  ScratchDirectory dir;
  const std::string obj = std::string(SCENES_DIR) + "/meshes/torus-knot.obj";
  const ProgramResult result = runImport({obj, "mesh.txt", "--frame", "--floor"}, dir.path());
  ASSERT_EQ(result.status, 0) << result.out;
  // The committed file names the OBJ by the relative path the gallery script uses.
  std::string converted = readFile(dir.path() / "mesh.txt");
  converted.replace(converted.find(obj), obj.size(), "scenes/meshes/torus-knot.obj");
  EXPECT_EQ(converted, readFile(fs::path(SCENES_DIR) / "mesh.txt"))
      << "run scripts/render-gallery.sh to bring scenes/mesh.txt up to date";
}

TEST(ScenetoolImport, FailuresPrintOneLineExitWithOneAndWriteNothing) {
  ScratchDirectory dir;
  const std::string tetra = (kMeshes / "tetra.obj").string();
  const std::string usage =
      "Usage: scenetool import mesh-file output.txt [--size N | --keep-size] [--at X Y Z] "
      "[--up y|z] [--rotate-x|-y|-z DEG] [--material R G B EXP REFL] [--frame] [--floor] "
      "[--time-limit SECONDS] [--memory-limit MB]\n";
  dir.write("cut-header.ply", "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nprop");
  dir.write("bad-index.ply",
            "ply\nformat ascii 1.0\nelement vertex 3\nproperty float x\nproperty float y\n"
            "property float z\nelement face 1\nproperty list uchar int vertex_indices\n"
            "end_header\n0 0 0\n1 0 0\n0 1 0\n3 0 1 7\n");
  dir.write("lines.obj", "v 0 0 0\nv 1 0 0\nl 1 2\n");
  dir.write("huge.obj", "v 0 0 0\nv 1e39 0 0\nv 0 1 0\nf 1 2 3\n");
  dir.write("near-limit.obj", "v 0 0 0\nv 3e38 0 0\nv 0 1 0\nf 1 2 3\n");
  dir.write("mesh.3ds", "");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{tetra}, usage},
      {{tetra, "out.txt", "--shiny"}, usage},
      {{tetra, "out.txt", "--at", "1", "2"}, usage},
      {{tetra, "out.txt", "--size", "0"},
       "Invalid size '0': expected a number above 0 and at most 1000000\n"},
      {{tetra, "out.txt", "--at", "1", "nan", "2"},
       "Invalid --at value 'nan': expected a number within the range of 32-bit floats\n"},
      {{tetra, "out.txt", "--material", "1", "1", "1", "1e39", "0"},
       "Invalid --material value '1e39': expected a number within the range of 32-bit floats\n"},
      {{tetra, "out.txt", "--time-limit", "0"},
       "Invalid --time-limit value '0': expected a number above 0 and at most 10000000\n"},
      {{tetra, "out.txt", "--up", "x"}, "Invalid --up value 'x': expected y or z\n"},
      {{"mesh.3ds", "out.txt"},
       "Unsupported mesh format '3ds' of mesh.3ds: scenetool import reads .obj, .ply, .stl, "
       ".gltf, .glb, .off and .dae files\n"},
      {{"missing.obj", "out.txt"}, "Error opening input file missing.obj\n"},
      {{"-", "out.txt"},
       "Cannot tell the mesh format of - without an extension: scenetool import reads .obj, "
       ".ply, .stl, .gltf, .glb, .off and .dae files\n"},
      {{"bad-index.ply", "out.txt"},
       "Cannot read bad-index.ply: Validation failed: aiMesh::mFaces[0]::mIndices[2] is out of "
       "range\n"},
      {{"cut-header.ply", "out.txt", "--time-limit", "0.5"},
       "Cannot read cut-header.ply: reading took longer than 0.5 seconds (raise the limit with "
       "--time-limit)\n"},
      {{"lines.obj", "out.txt"},
       "Cannot import lines.obj: no triangles (0 points and 1 line skipped)\n"},
      {{"huge.obj", "out.txt"},
       "Cannot import huge.obj: the mesh has a coordinate that is not a finite number\n"},
      {{"near-limit.obj", "out.txt", "--keep-size", "--at", "3e38", "0", "0"},
       "Cannot import near-limit.obj: the placed mesh does not fit in 32-bit floats; choose a "
       "smaller --size or --at\n"},
      {{"near-limit.obj", "out.txt", "--keep-size", "--frame", "--floor"},
       "Cannot import near-limit.obj: the scene would contain a number beyond the range of "
       "32-bit floats; nothing written (choose a smaller --size or --at)\n"},
      {{tetra, "no-such-folder/out.txt"}, "Error writing output file no-such-folder/out.txt\n"},
  };
  for (const auto &[args, message] : cases) {
    EXPECT_TRUE(refusedWith(runImport(args, dir.path()), message, dir.path() / "out.txt"));
  }
  if (fs::exists("/dev/full")) {
    EXPECT_EQ(runImport({tetra, "/dev/full"}, dir.path()),
              (ProgramResult{"Error writing output file /dev/full\n", 1}));
  }
}

// One line and status 1, never an abort, however little memory there is;
// which step runs out first depends on the limit.
TEST(ScenetoolImport, RunningOutOfMemoryIsOneLineAndStatusOne) {
  ScratchDirectory dir;
  // 10^9 vertices and faces claimed in 200 bytes.
  dir.write("claims.ply", "ply\nformat ascii 1.0\nelement vertex 1000000000\nproperty float x\n"
                          "property float y\nproperty float z\nelement face 1000000000\n"
                          "property list uchar int vertex_indices\nend_header\n0 0 0\n");
  const ProgramResult claims = runImport({"claims.ply", "out.txt"}, dir.path());
#ifndef RAYTRACER_SANITIZED
  EXPECT_EQ(claims.out, "Cannot read claims.ply: reading needed more than 1025 MB of memory "
                        "(raise the limit with --memory-limit)\n");
#endif
  EXPECT_EQ(claims.status, 1);
  EXPECT_EQ(std::count(claims.out.begin(), claims.out.end(), '\n'), 1);

#ifndef RAYTRACER_SANITIZED
  std::string grid; // 200 x 200 squares, one triangle each
  for (int i = 0; i < 201 * 201; ++i) {
    grid += "v " + std::to_string(i / 201) + " " + std::to_string(i % 201) + " 0\n";
  }
  for (int a = 1; a <= 200 * 201; ++a) {
    if (a % 201 != 0) {
      grid += "f " + std::to_string(a) + " " + std::to_string(a + 201) + " " +
              std::to_string(a + 1) + "\n";
    }
  }
  dir.write("grid.obj", grid);
  // However little memory the tool itself may use: the reading child, or
  // the scaling, runs out first.
  const std::size_t limits[] = {24, 32, 40, 96};
  for (const std::size_t megabytes : limits) {
    const ProgramResult result =
        runImport({"grid.obj", "out.txt"}, dir.path(), memoryLimit(megabytes << 20));
    const bool wrote =
        result.status == 0 && result.out.ends_with("\nWrote 40000 triangles to out.txt\n");
    EXPECT_TRUE(wrote || refusedWith(result,
                                     result.out.substr(0, result.out.find(" of memory")) +
                                         " of memory (raise the limit with --memory-limit)\n",
                                     dir.path() / "out.txt"))
        << megabytes << " MB: " << result.out;
    EXPECT_EQ(wrote, megabytes == 96) << result.out;
    fs::remove(dir.path() / "out.txt");
  }
  std::string spheres = "material\n1 1 1\n10\n0.5\n";
  for (int i = 0; i < 200000; ++i) {
    spheres += "sphere\n" + std::to_string(i) + " 0 -5\n0.5\n";
  }
  dir.write("spheres.txt", spheres);
  EXPECT_TRUE(refusedWith(runProgram(kTool, {"scale", "spheres.txt", "2", "out.txt"}, dir.path(),
                                     memoryLimit(std::size_t(30) << 20)),
                          "Not enough memory to scale spheres.txt\n", dir.path() / "out.txt"));
#endif
}

TEST(ScenetoolScale, TwiceAsLargeRendersTheSameBytes) {
  ScratchDirectory dir;
  for (const char *name : {"example", "shadows", "falloff", "mirrors"}) {
    const std::string scene = std::string(SCENES_DIR) + "/" + name + ".txt";
    const ProgramResult scaled = runProgram(kTool, {"scale", scene, "2", "big.txt"}, dir.path());
    EXPECT_EQ(scaled.out, "Wrote " + scene + " scaled by 2 to big.txt\n");
    for (const auto &[input, output] : {std::pair{scene, "small.bmp"}, {"big.txt", "big.bmp"}}) {
      EXPECT_EQ(runProgram(RAYTRACER_BINARY, {input, output, "24", "18"}, dir.path()).status, 0);
    }
    EXPECT_EQ(readFile(dir.path() / "small.bmp"), readFile(dir.path() / "big.bmp")) << name;
  }
  dir.write("bad.txt", "sphere\n0 0 0\n1\ncube\n");
  dir.write("large.txt", "sphere\n0 0 0\n3e38\n");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"scale", "bad.txt", "2"}, "Usage: scenetool scale scene.txt K output.txt\n"},
      {{"scale", "bad.txt", "-1", "out.txt"},
       "Invalid scale factor '-1': expected a number above 0\n"},
      {{"scale", "missing.txt", "2", "out.txt"}, "Error opening input file missing.txt\n"},
      {{"scale", "bad.txt", "2", "out.txt"}, "Line 4: Unexpected command cube\n"},
      {{"scale", "large.txt", "2", "out.txt"},
       "Line 1: the scaled sphere has a number beyond the range of 32-bit floats\n"},
  };
  for (const auto &[args, message] : cases) {
    EXPECT_TRUE(refusedWith(runProgram(kTool, args, dir.path()), message, dir.path() / "out.txt"));
  }
}

TEST(Scenetool, HelpVersionAndUnknownCommands) {
  ScratchDirectory dir;
  const ProgramResult help = runProgram(kTool, {"--help"}, dir.path());
  EXPECT_EQ(help.status, 0);
  // Each command is listed in the overview, and its own help answers either way.
  for (const std::string command : {"import", "scale", "check", "explain", "watch"}) {
    EXPECT_NE(help.out.find("\n  scenetool " + command + " "), std::string::npos) << command;
    const ProgramResult asked = runProgram(kTool, {"help", command}, dir.path());
    EXPECT_EQ(asked.status, 0);
    EXPECT_EQ(asked.out.rfind("Usage: scenetool " + command + " ", 0), 0u) << asked.out;
    for (const std::string flag : {"--help", "-h"}) {
      EXPECT_EQ(runProgram(kTool, {command, flag}, dir.path()), asked);
    }
  }
  EXPECT_NE(runProgram(kTool, {"help", "import"}, dir.path()).out.find("  --at X Y Z "),
            std::string::npos);
  EXPECT_EQ(runProgram(kTool, {"--version"}, dir.path()).out.rfind("scenetool 1.", 0), 0u);
  EXPECT_TRUE(refusedWith(runProgram(kTool, {"convert"}, dir.path()),
                          "Unknown command 'convert': scenetool --help lists the commands\n",
                          dir.path() / "out.txt"));
  EXPECT_TRUE(refusedWith(runProgram(kTool, {}, dir.path()),
                          "Usage: scenetool <command> [arguments] (scenetool --help lists them)\n",
                          dir.path() / "out.txt"));
}

} // namespace
