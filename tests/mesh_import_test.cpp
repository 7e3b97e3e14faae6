// The mesh import's own steps: polygon splitting, the reply from the reading
// child, the isolation of that child (its timeout and memory limit are
// tested on the real program), sizing and placing, framing, the
// number text and whole-scene scaling.

#include <gtest/gtest.h>

#include <signal.h>

#include <bit>
#include <charconv>
#include <cstdlib>
#include <random>

#include "mesh/ImportScene.h"
#include "mesh/IsolatedReader.h"
#include "mesh/MeshWire.h"
#include "mesh/Placement.h"
#include "mesh/PolygonTriangulation.h"
#include "mesh/SceneScale.h"
#include "mesh/SceneText.h"
#include "scene/Scene.h"

namespace {

TEST(PolygonTriangulation, ConcavePolygonsSplitIntoCounterClockwiseTrianglesInEveryRotation) {
  // An L-shaped hexagon (area 3) and a U-shaped octagon (area 5), in the xy
  // plane facing +z and in the yz plane facing -x.
  const std::vector<std::vector<Vec3>> shapes = {
      {{0, 0, 0}, {2, 0, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}},
      {{0, 0, 0}, {3, 0, 0}, {3, 2, 0}, {2, 2, 0}, {2, 1, 0}, {1, 1, 0}, {1, 2, 0}, {0, 2, 0}},
  };
  const double areas[] = {3.0, 5.0};
  for (std::size_t s = 0; s < shapes.size(); ++s) {
    for (const bool side : {false, true}) {
      std::vector<Vec3> polygon = shapes[s];
      Vec3 normal{0, 0, 1};
      if (side) {
        // (x, y, 0) -> (0, y, x): the same polygon, now facing -x.
        for (Vec3 &p : polygon) {
          p = {0, p.y, p.x};
        }
        normal = {-1, 0, 0};
      }
      for (std::size_t r = 0; r < polygon.size(); ++r) {
        std::vector<Vec3> rotated(polygon.begin() + std::ptrdiff_t(r), polygon.end());
        rotated.insert(rotated.end(), polygon.begin(), polygon.begin() + std::ptrdiff_t(r));
        const auto triangles = triangulatePolygon(rotated);
        ASSERT_EQ(triangles.size(), rotated.size() - 2);
        double total = 0.0;
        for (const auto &t : triangles) {
          // Twice the signed area seen down the normal; exact for these small whole numbers.
          const Vec3 &a = rotated[t[0]];
          const double area = dot(cross(sub(rotated[t[1]], a), sub(rotated[t[2]], a)), normal);
          EXPECT_GT(area, 0.0) << "shape " << s << " side " << side << " rotation " << r;
          total += area;
        }
        EXPECT_EQ(total, 2.0 * areas[s]) << "shape " << s << " rotation " << r;
      }
    }
  }
  // Degenerate input keeps the count: nothing is dropped or invented.
  const std::vector<Vec3> line = {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}};
  EXPECT_EQ(triangulatePolygon(line).size(), 2u);
}

// Good replies, errors among them, are read on the real program (every mesh
// format, a file with no triangles, a file the library refuses); here, every
// damage is refused.
TEST(MeshWire, DamagedRepliesAreRefused) {
  Mesh mesh;
  mesh.points = {{0, 0, 0}, {1, -2.5f, 3}, {0, 1, 1e-30f}};
  mesh.triangles = {{0, 1, 2}, {2, 1, 0}};
  const std::string bytes = encodeMesh(mesh);
  ASSERT_TRUE(decodeReply(bytes).valid);
  EXPECT_FALSE(decodeReply("").valid);
  EXPECT_FALSE(decodeReply(bytes.substr(0, bytes.size() - 1)).valid);
  EXPECT_FALSE(decodeReply(bytes + "x").valid);
  std::string badIndex = bytes;
  badIndex[badIndex.size() - 4] = 3;
  EXPECT_FALSE(decodeReply(badIndex).valid);
  EXPECT_FALSE(decodeReply("Ztext").valid);
  EXPECT_FALSE(decodeReply(encodeError(ReplyKind::Error, "two\nlines")).valid);
}

// A good reply is read on the real program, from every mesh format.
TEST(IsolatedReader, EveryWayTheLibraryCanFailBecomesOneLine) {
  // Generous time for the children that end by themselves, so that a busy
  // machine cannot turn their ending into a timeout.
  const ReadLimits limits{30.0, 64u << 20};
  const std::pair<ChildReader, std::string> cases[] = {
      {[](const std::string &) -> std::string {
         signal(SIGSEGV, SIG_DFL);
         raise(SIGSEGV);
         return {};
       },
       "the mesh library crashed (Segmentation fault)"},
      {[](const std::string &) -> std::string { std::abort(); },
       "the mesh library stopped on a failed internal check (Aborted)"},
      {[](const std::string &) -> std::string { return "M\x01"; },
       "the mesh library stopped without an answer"},
  };
  for (const auto &[reader, message] : cases) {
    const ReadOutcome outcome = readMeshIsolated("x", limits, reader);
    EXPECT_EQ(outcome.error, message);
    EXPECT_TRUE(outcome.mesh.triangles.empty());
  }
  // Sized from the file: a compressed file expands many times over.
  EXPECT_EQ(limitsForFileSize(1000000).memoryBytes, (1u << 30) + 64000000u);
  EXPECT_EQ(limitsForFileSize(1000000).seconds, 31.0);
}

// A grid of n x n unit squares in the xz plane, two triangles each.
Mesh grid(int n) {
  Mesh mesh;
  for (int z = 0; z <= n; ++z) {
    for (int x = 0; x <= n; ++x) {
      mesh.points.emplace_back(float(x), 0.0f, float(z));
    }
  }
  for (int z = 0; z < n; ++z) {
    for (int x = 0; x < n; ++x) {
      const std::uint32_t a = std::uint32_t(z * (n + 1) + x);
      const std::uint32_t b = a + 1;
      const std::uint32_t c = a + std::uint32_t(n) + 1;
      mesh.triangles.push_back({a, c, b});
      mesh.triangles.push_back({b, c, c + 1});
    }
  }
  return mesh;
}

TEST(Placement, DefaultSizeIsTheSmallestFromTenAtWhichNinetyNinePercentShow) {
  // 50 cells at size 10: cells of 0.2, |edge1 x edge2| 0.04, all large enough.
  PlacementOptions options;
  EXPECT_EQ(placeMesh(grid(50), options).size, 10.0);
  // 100 cells: 0.01 at size 10; 0.02 needs sqrt(2) more, 14.14, read as 15.
  const Mesh fine = grid(100);
  const Placement chosen = placeMesh(fine, options);
  EXPECT_EQ(chosen.error, "");
  EXPECT_EQ(chosen.size, 15.0);
  EXPECT_EQ(chosen.sizes.small, 0u);
  options.sizeMode = SizeMode::Fixed;
  options.size = 14.0;
  EXPECT_EQ(placeMesh(fine, options).sizes.small, fine.triangles.size());
  options.size = 3.0;
  const Placement fixed = placeMesh(fine, options);
  EXPECT_EQ(fixed.size, 3.0);
  EXPECT_EQ(fixed.bounds.max[0] - fixed.bounds.min[0], 3.0);
}

// Sizing, --at and --up are followed on the real program (scenetool_test),
// and so are the placed mesh's range messages.
TEST(Placement, TurnsAndKeepSizeMoveNothingElseAndAPointHasNoSize) {
  Mesh mesh;
  mesh.points = {{0, 0, 0}, {2, 0, 0}, {0, 2, 0}, {1, 1, 4}};
  mesh.triangles = {{0, 2, 1}, {0, 1, 3}, {0, 3, 2}, {1, 2, 3}};
  PlacementOptions options;
  // A quarter turn about y takes +x to -z; --keep-size moves nothing.
  options.orientation = makeOrientation(false, 0, 90, 0);
  options.sizeMode = SizeMode::Keep;
  const Placement placed = placeMesh(mesh, options);
  EXPECT_EQ(placed.points[1].x, 0.0f);
  EXPECT_EQ(placed.points[1].z, -2.0f);
  EXPECT_EQ(placed.points[3].y, 1.0f);
  mesh.points = {{1, 1, 1}, {1, 1, 1}, {1, 1, 1}};
  mesh.triangles = {{0, 1, 2}};
  options.sizeMode = SizeMode::Automatic;
  EXPECT_EQ(placeMesh(mesh, options).error,
            "the triangles have no size to scale: all their corners are at one point");
}

TEST(SceneText, EveryNumberReadsBackThroughTheLoaderAsTheSameFloat) {
  // The shortest text of the float itself reads, through a double, as its
  // neighbour: one more digit is needed.
  for (const float value : {7.038531e-26f, -7.038531e-26f}) {
    char shortest[32];
    const auto end = std::to_chars(shortest, shortest + sizeof shortest, value).ptr;
    EXPECT_FALSE(readsBackAs(std::string_view(shortest, std::size_t(end - shortest)), value));
    const std::string text = shortestSceneNumber(value);
    EXPECT_TRUE(readsBackAs(text, value)) << text;
    EXPECT_EQ(text.size(), std::size_t(end - shortest) + 1) << text;
  }
  EXPECT_EQ(shortestSceneNumber(-0.0f), "-0");
  EXPECT_EQ(shortestSceneNumber(0.1f), "0.1");
  EXPECT_EQ(shortestSceneNumber(1e-45f), "1e-45");
  EXPECT_EQ(shortestSceneNumber(3.4028235e38f), "3.4028235e+38");
  std::mt19937 random(7);
  for (int i = 0; i < 200000; ++i) {
    const float value = std::bit_cast<float>(std::uint32_t(random()));
    if (std::isfinite(value)) {
      ASSERT_TRUE(readsBackAs(shortestSceneNumber(value), value)) << value;
    }
  }
  SceneText text;
  text.triple(1, 2, 1e39);
  EXPECT_FALSE(text.finite());
}

TEST(ImportScene, TheFramedCameraKeepsEveryCornerInsideTheMargin) {
  const Mesh mesh = grid(3);
  PlacementOptions placement;
  placement.orientation = makeOrientation(false, 30, 20, 10);
  const Placement placed = placeMesh(mesh, placement);
  SceneOptions options;
  options.frame = true;
  options.sourceName = "grid\n.obj";
  const ImportedScene scene = writeImportedScene(mesh, placed, placement, options);
  ASSERT_EQ(scene.error, "");
  EXPECT_EQ(scene.text.rfind("# Imported by scenetool from grid?.obj: 18 triangles.\n", 0), 0u);
  Scene loaded;
  ASSERT_EQ(loaded.loadText(scene.text), 1);
  // The corner's place in the picture, as a fraction of the half-height.
  const double halfHeight = std::tan(40.0 * 0.017452778 * 0.5);
  double widest = 0.0;
  for (const Vec3 &p : placed.points) {
    const Vec3 q = sub(p, loaded.eye);
    const double depth = dot(q, loaded.forward);
    const double across = dot(q, loaded.right) / depth / halfHeight;
    const double up = dot(q, loaded.up) / depth / halfHeight;
    widest = std::max({widest, std::fabs(across), std::fabs(up)});
  }
  EXPECT_NEAR(widest, 0.9, 1e-5);
}

TEST(SceneScale, PositionsAndRadiiScaleByKAndPointLightsBySquare) {
  const ScaledScene scaled = scaleSceneText(
      "# room\ncamera\n0 1 2\n0 0 -1\n0 1 0\n45\n\nambientLight\n0.1 0.2 0.3\n"
      "directionLight\n1 1 1\n0 0 1\npointLight\n2 3 4\n1 2 3\nmaterial\n1 0 0 10 0.5\n"
      "triangle\n0 0 0 1 0 0\n0 1 0\nsphere\n1 2 3\n0.5",
      3.0);
  EXPECT_EQ(scaled.error, "");
  EXPECT_EQ(scaled.text, "# room\ncamera\n0 3 6\n0 0 -3\n0 1 0\n45\n\nambientLight\n0.1 0.2 0.3\n"
                         "directionLight\n1 1 1\n0 0 1\npointLight\n18 27 36\n3 6 9\n"
                         "material\n1 0 0\n10\n0.5\ntriangle\n0 0 0\n3 0 0\n0 3 0\n"
                         "sphere\n3 6 9\n1.5\n");
}

} // namespace
