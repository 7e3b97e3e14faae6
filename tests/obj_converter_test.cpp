#include <gtest/gtest.h>

#include <cmath>

#include "captured_stdout.h"
#include "geometry/Triangle.h"
#include "mesh/ObjConverter.h"
#include "mesh/ObjParser.h"
#include "random_scene.h"
#include "scene/Scene.h"

namespace {

using Corners = std::array<std::size_t, 3>;

const std::string kThreeVertices = "v 0 0 0\nv 1 0 0\nv 0 1 0\n";

TEST(ObjParse, FacesAreFannedFromTheirFirstCornerWithIndicesCountedEitherWay) {
  const std::pair<std::string, std::vector<Corners>> cases[] = {
      {"v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0.5 2 0\nv 0 1 0\nf 1 2 3 4 5\n",
       {{0, 1, 2}, {0, 2, 3}, {0, 3, 4}}},
      // negative indices count back from the latest vertex
      {kThreeVertices + "f -3 -2 -1\nv 5 5 5\nf -1 -2 -3\n", {{0, 1, 2}, {3, 2, 1}}},
      // texture and normal indices are accepted and ignored
      {kThreeVertices +
           "vt 0 0\nvn 0 0 1\nf 1/1 2/1 3/1\nf 1//1 2//1 3//1\nf 1/1/1 2/1/1 3/-1/-1\n",
       {{0, 1, 2}, {0, 1, 2}, {0, 1, 2}}},
      // faces may use vertices defined later
      {"f 1 2 3\n" + kThreeVertices, {{0, 1, 2}}},
  };
  for (const auto &[text, triangles] : cases) {
    const ObjParseResult r = parseObj(text);
    EXPECT_EQ(r.error, "") << text;
    EXPECT_EQ(r.mesh.triangles, triangles) << text;
  }
}

TEST(ObjParse, CommentsBlankLinesCrLfTabsAndOtherRecordsAreSkipped) {
  const ObjParseResult r = parseObj("# made by hand\r\n\r\nmtllib a.mtl\r\no thing\r\n"
                                    "v\t1 2 3 # trailing comment\r\nv 4 5 6 0.5 0.5 0.5\r\n"
                                    "v +7 -8e1 9.5E-1\r\ng group\r\nusemtl red\r\ns off\r\n"
                                    "l 1 2\r\np 3\r\nnonsense words here\r\nf 1 2 3");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.mesh.vertices.size(), 3u);
  EXPECT_EQ(r.mesh.vertices[0].z, 3.0);
  EXPECT_EQ(r.mesh.vertices[1].x, 4.0);
  EXPECT_EQ(r.mesh.vertices[2].x, 7.0);
  EXPECT_EQ(r.mesh.vertices[2].y, -80.0);
  EXPECT_EQ(r.mesh.vertices[2].z, 0.95);
  EXPECT_EQ(r.mesh.triangles, (std::vector<Corners>{{0, 1, 2}}));
}

TEST(ObjParse, BadInputIsReportedWithItsLineNumber) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"v 1 2\n", "Line 1: vertex needs three coordinates"},
      {"# x\nv 1 x 3\n", "Line 2: bad coordinate 'x' in vertex (a finite number within the "
                         "range of 32-bit floats is needed)"},
      {"v 1 2 1e39\n", "Line 1: bad coordinate '1e39' in vertex (a finite number within the "
                       "range of 32-bit floats is needed)"},
      {"v nan 0 0\n", "Line 1: bad coordinate 'nan' in vertex (a finite number within the "
                      "range of 32-bit floats is needed)"},
      {"v 1.5.2 0 0\n", "Line 1: bad coordinate '1.5.2' in vertex (a finite number within the "
                        "range of 32-bit floats is needed)"},
      {kThreeVertices + "f 1 2\n", "Line 4: face needs at least three vertices"},
      {kThreeVertices + "f 1 2 0\n",
       "Line 4: vertex index 0 in face (indices start at 1, or count back from -1)"},
      {kThreeVertices + "f 1 2 -4\n",
       "Line 4: vertex index -4 in face, but only 3 vertices defined before it"},
      {kThreeVertices + "f 1 2 4\n\n",
       "Line 4: face refers to vertex 4, but the file defines only 3 vertices"},
      {"f 1 2 3\nv 0 0 0\n", "Line 1: face refers to vertex 2, but the file defines only 1 vertex"},
      {kThreeVertices + "f 1/1/1/1 2 3\n",
       "Line 4: bad face corner '1/1/1/1' (expected v, v/vt, v//vn or v/vt/vn)"},
      {kThreeVertices + "f 1/x 2 3\n",
       "Line 4: bad face corner '1/x' (expected v, v/vt, v//vn or v/vt/vn)"},
      {kThreeVertices + "f a 2 3\n", "Line 4: bad vertex index 'a' in face"},
      {kThreeVertices + "f /1 2 3\n", "Line 4: bad vertex index '/1' in face"},
      {kThreeVertices + "f 99999999999999999999 2 3\n",
       "Line 4: bad vertex index '99999999999999999999' in face"},
      {kThreeVertices + "f 1 2 3\x01\xff\n", "Line 4: bad vertex index '3?"
                                             "?' in face"},
      {"", "The OBJ file has no faces (f records)"},
      {kThreeVertices, "The OBJ file has no faces (f records)"},
  };
  for (const auto &[text, message] : cases) {
    const ObjParseResult r = parseObj(text);
    EXPECT_EQ(r.error, message) << text;
    EXPECT_TRUE(r.mesh.triangles.empty());
  }
}

// The number lines of every `triangle` command, in order.
std::vector<std::string> triangleLines(const std::string &scene) {
  std::vector<std::string> lines;
  std::size_t pos = 0;
  while ((pos = scene.find("triangle\n", pos)) != std::string::npos) {
    pos += 9;
    for (int i = 0; i < 3; ++i) {
      const std::size_t end = scene.find('\n', pos);
      lines.push_back(scene.substr(pos, end - pos));
      pos = end + 1;
    }
  }
  return lines;
}

const std::string kSquare = "v 2 2 2\nv 4 2 2\nv 4 3 2\nv 2 3 2\nv 100 100 100\nf 1 2 3 4\n";

TEST(ObjConvert, MeshIsCentredAndItsLargestExtentScaledToTheSize) {
  ConvertOptions options;
  options.size = 10.0;
  const ConvertResult r = convertObj(kSquare, options);
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(r.warnings.empty());
  EXPECT_EQ(r.triangleCount, 2u);
  EXPECT_EQ(r.scale, 5.0);
  // The unused vertex at 100 does not count towards the bounds.
  EXPECT_EQ(triangleLines(r.sceneText),
            (std::vector<std::string>{"-5 -2.5 0", "5 -2.5 0", "5 2.5 0", "-5 -2.5 0", "5 2.5 0",
                                      "-5 2.5 0"}));
  EXPECT_NE(r.sceneText.find("material\n0.8 0.75 0.7\n30\n0.1\ntriangle\n"), std::string::npos);
}

TEST(ObjConvert, SmallAndDegenerateTrianglesAreCountedWithASizeThatWouldShowThem) {
  ConvertOptions options;
  options.size = 0.1;
  // The 2 x 1 rectangle's two triangles plus one with collinear corners.
  const ConvertResult r = convertObj(kSquare + "v 3 2.5 2\nf 1 6 3\n", options);
  ASSERT_EQ(r.error, "");
  // Scaled by 0.05, the rectangle's triangles have |edge1 x edge2| = 0.1 * 0.05 =
  // 0.005; that grows with the square of the size, so the size must double.
  ASSERT_EQ(r.warnings.size(), 2u);
  EXPECT_EQ(r.warnings[0], "Warning: 2 of 3 triangles are too small to show reliably "
                           "(|edge1 x edge2| below 0.02); --size 0.2 would make 99% of the "
                           "triangles large enough");
  EXPECT_EQ(r.warnings[1], "Warning: 1 of 3 triangles have no area and can never be seen");
  EXPECT_NE(r.sceneText.find("# " + r.warnings[0] + "\n"), std::string::npos);
}

TEST(ObjConvert, MeshesWithoutSizeCannotBeScaled) {
  const ConvertResult r = convertObj("v 1 1 1\nf 1 1 1\n", ConvertOptions{});
  EXPECT_EQ(r.error, "The faces have no size to scale: all their vertices are at one point");
  EXPECT_EQ(r.sceneText, "");
}

TEST(ObjConvert, FramedOutputLoadsIntoAScene) {
  ConvertOptions options;
  options.frame = true;
  options.floor = true;
  options.sourceName = "two\nlines.obj";
  const ConvertResult r = convertObj(kSquare, options);
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.sceneText.rfind("# Converted by obj2scene from two?lines.obj: 5 vertices", 0), 0u);

  Scene scene;
  int status = 0;
  EXPECT_EQ(capturedStdout([&] { status = scene.loadText(r.sceneText); }), "");
  ASSERT_EQ(status, 1);

  // Looking at the middle of the mesh, from the front.
  EXPECT_GT(scene.eye.z, 10.0f);
  EXPECT_NEAR(
      scene.forward.x * scene.eye.x + scene.forward.y * scene.eye.y + scene.forward.z * scene.eye.z,
      -std::sqrt(scene.eye.x * scene.eye.x + scene.eye.y * scene.eye.y + scene.eye.z * scene.eye.z),
      1e-4);
  // Shapes come out newest first: the mesh's two triangles, then the floor's,
  // below the mesh and facing up.
  const std::vector<const Shape *> shapes = shapeList(scene);
  ASSERT_EQ(shapes.size(), 4u);
  const auto &floor = dynamic_cast<const Triangle &>(*shapes[3]);
  EXPECT_EQ(floor.normal.y, 1.0f);
  EXPECT_LT(floor.vertex0.y, -2.5f);
}

} // namespace
