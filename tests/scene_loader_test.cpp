#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "geometry/Sphere.h"
#include "scene/Scene.h"
#include "scene/SceneStream.h"

namespace {

// Loads `text` from a temporary file; returns load()'s result and what it printed.
struct LoadResult {
  int status;
  std::string out;
};

LoadResult loadText(Scene &scene, const std::string &text) {
  // One file per test: ctest may run tests of this file in parallel processes.
  const std::string path = testing::TempDir() + "scene_loader_test_" +
                           testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
  std::ofstream(path, std::ios::binary) << text;
  testing::internal::CaptureStdout();
  const int status = scene.load(path);
  std::fflush(stdout);
  return {status, testing::internal::GetCapturedStdout()};
}

const Sphere &firstSphere(const Scene &scene) {
  return *static_cast<const Sphere *>(scene.shapes);
}

TEST(SceneLoad, WorkedExampleFillsTheScene) {
  Scene scene;
  const LoadResult r = loadText(scene, "ambientLight\n0.1 0.1 0.1\ndirectionLight\n1 1 1\n0 0 5\n"
                                       "material\n1 1 1\n10\n0.5\nsphere\n0 0 -5\n1");
  ASSERT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(scene.ambient.x, 0.1f);
  EXPECT_EQ(scene.directionLights->direction.z, 1.0f);
  const Sphere &s = firstSphere(scene);
  EXPECT_EQ(s.center.z, -5.0f);
  EXPECT_EQ(s.radius, 1.0f);
  EXPECT_EQ(s.material.exponent, 10.0f);
  EXPECT_EQ(s.material.reflectivity, 0.5f);
  EXPECT_EQ(s.next, nullptr);
}

TEST(SceneLoad, LineCounterFollowsNominalLayout) {
  Scene scene;
  // material's five numbers on one line still count as four lines.
  EXPECT_EQ(loadText(scene, "material\n1 0 0 10 0.5\ncube\n").out,
            "Line 5: Unexpected command cube\n");
  EXPECT_EQ(loadText(scene, "camera\n0 0 0\n0 0 -1\n0 1 0\n20\n# c\nSphere\n").out,
            "Line 7: Unexpected command Sphere\n");
}

TEST(SceneLoad, OneCharacterIsDiscardedAfterTheLastNumber) {
  Scene a;
  EXPECT_EQ(loadText(a, "sphere\n0 0 -5\n1 \n").status, 1);
  Scene b;
  EXPECT_EQ(loadText(b, "sphere\n0 0 -5\n1 #unit\n").status, 1);
  Scene c;
  EXPECT_EQ(loadText(c, "sphere\n0 0 -5\n1  \n").out, "Line 4: Unexpected command  \n");
}

TEST(SceneLoad, CarriageReturnsBeforeNewlinesVanishOthersStay) {
  Scene a;
  EXPECT_EQ(loadText(a, "sphere\r\n0 0 -5\r\n1\r\n").status, 1);
  Scene b;
  EXPECT_EQ(loadText(b, "sphere\r\r\n0 0 -5\n1\n").out, "Line 1: Unexpected command sphere\r\n");
}

TEST(SceneLoad, LongLinesAndNulBytes) {
  Scene a;
  EXPECT_EQ(loadText(a, std::string(300, 'x') + "\n").out,
            "Line 1: Unexpected command " + std::string(255, 'x') + "\n");
  Scene b;
  EXPECT_EQ(loadText(b, "#" + std::string(254, 'c') + "\n").status, 1);
  Scene c;
  EXPECT_EQ(loadText(c, std::string("cu\0be\n", 6)).out, "Line 1: Unexpected command cu\n");
  Scene d;
  EXPECT_EQ(loadText(d, std::string("\0abc\n", 5)).status, 1);
}

TEST(SceneLoad, MaterialIsCopiedIntoEachShape) {
  Scene scene;
  ASSERT_EQ(loadText(scene, "sphere\n0 0 0\n1\nmaterial\n1 0 0\n2\n0\nsphere\n0 0 0\n2\n").status,
            1);
  EXPECT_EQ(firstSphere(scene).material.color.x, 1.0f);
  EXPECT_EQ(static_cast<const Sphere *>(scene.shapes->next)->material.color.x, 0.0f);
}

TEST(SceneLoad, MissingFilePrintsItsPath) {
  Scene scene;
  testing::internal::CaptureStdout();
  EXPECT_EQ(scene.load("/no/such/scene.txt"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Error opening input file /no/such/scene.txt\n");
}

// The loader promises the same numbers, and the same characters consumed, as
// formatted extraction of a double from a standard stream.
TEST(SceneStreamNumbers, AgreeWithStandardStreamExtraction) {
  const char *inputs[] = {"1",
                          "-0.",
                          "+.5",
                          ".5e1",
                          "1e-3x",
                          "1.5.3",
                          "00012",
                          "1E+2",
                          "7e",
                          "2e+",
                          "-",
                          ".",
                          "+-1",
                          "abc",
                          "1ee5",
                          "0x1p3",
                          "1e-400",
                          "3.4e39",
                          "  \n\t 42",
                          "1e400",
                          "-1e400",
                          "4.9e-324",
                          "2.4e-324",
                          "2.5e-324",
                          "-1e-400",
                          "1e-320",
                          "2.2250738585072011e-308",
                          "1.7976931348623157e308",
                          "1.7976931348623159e308",
                          "1.00000000000000011102230246251565404236316680908203125",
                          "123456789012345678901234567890"};
  for (const char *input : inputs) {
    std::istringstream reference(input);
    double expected = -7;
    reference >> expected;
    const bool referenceFailed = reference.fail();

    SceneStream stream(input);
    double got = -7;
    const SceneStream::NumberResult result = stream.readNumber(got);
    EXPECT_EQ(result != SceneStream::NumberResult::Ok, referenceFailed) << input;
    if (!referenceFailed) {
      EXPECT_EQ(got, expected) << input;
      // The same characters were consumed: what is left of the line agrees.
      std::string rest;
      std::getline(reference, rest);
      EXPECT_EQ(stream.readLine(), rest) << input;
    }
  }
}

// Random values at every magnitude, printed with few and with many digits,
// convert exactly as a standard stream converts them.
TEST(SceneStreamNumbers, RandomDecimalsRoundAsStandardStreamExtraction) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const double value = std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random),
                                    std::uniform_int_distribution<int>(-1080, 1030)(random));
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", int(random() % 19) + 1, value);
    std::istringstream reference(text);
    double expected = -7;
    reference >> expected;
    SceneStream stream(text);
    double got = -7;
    const bool ok = stream.readNumber(got) == SceneStream::NumberResult::Ok;
    ASSERT_EQ(ok, !reference.fail()) << text;
    if (ok) {
      ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << text;
    }
  }
}

} // namespace
