// The scene loader's reading of numbers and of file lines. (Its messages are covered line by
// line by the conformance cases.)

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

#include "scene/Scene.h"
#include "scene/SceneStream.h"

namespace {

// The loader promises the same number, bit for bit, and the same characters
// consumed as formatted extraction of a double from a standard stream.
bool readsAsAStream(const char *input) {
  std::istringstream reference(input);
  double expected = -7;
  reference >> expected;
  SceneStream stream(input);
  double got = -7;
  const bool ok = stream.readNumber(got) == SceneStream::NumberResult::Ok;
  EXPECT_EQ(ok, !reference.fail()) << input;
  if (ok && !reference.fail()) {
    EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << input << " read as " << got;
    std::string rest;
    std::getline(reference, rest);
    EXPECT_EQ(stream.readLine(), rest) << input;
  }
  return !testing::Test::HasFailure();
}

TEST(SceneStreamNumbers, ReadAsStandardStreamExtractionReadsThem) {
  std::istringstream inputs(
      "1|-0.|+.5|.5e1|1e-3x|1.5.3|00012|1E+2|7e|2e+|-|.|+-1|abc|1ee5|0x1p3|1e-400|3.4e39|  \n\t 42|"
      "1e400|-1e400|4.9e-324|2.4e-324|2.5e-324|-1e-400|1e-320|2.2250738585072011e-308|"
      "1.7976931348623157e308|1.7976931348623159e308|"
      "1.00000000000000011102230246251565404236316680908203125|123456789012345678901234567890|"
      "-.5|5.|0.000123|9007199254740992|9007199254740993|1e22|1e23|123456789e-22|-0e5|1e-22|"
      "1234567890123456789|12345678901234567891|0.00000000000000000000000001234|1."
      "0000000000000000000|"
      "1e-100000|1e100000");
  for (std::string input; std::getline(inputs, input, '|');) {
    readsAsAStream(input.c_str());
  }
  // Random values at every magnitude, printed with few and with many digits.
  std::mt19937_64 random(7);
  for (int i = 0; i < 20000; ++i) {
    const double value = std::ldexp(std::uniform_real_distribution<double>(-1, 1)(random),
                                    std::uniform_int_distribution<int>(-1080, 1030)(random));
    char text[64];
    std::snprintf(text, sizeof text, "%.*g", int(random() % 19) + 1, value);
    ASSERT_TRUE(readsAsAStream(text));
  }
}

} // namespace

// Diagnostics name the line an editor shows, whatever the layout: CR LF line
// ends, blank and comment lines, numbers spread over fewer or more lines.
TEST(SceneLines, EveryCommandKnowsTheFileLineOfItsKeyword) {
  Scene scene;
  ASSERT_EQ(scene.loadText("# comment\r\n\r\ncamera\r\n0 0 5 0 0 0\r\n0 1 0\r\n40\r\n"
                           "ambientLight\n0.1\n0.1\n\n0.1\n"
                           "material\n1 1 1 1 0\n"
                           "sphere\n0 0 0\n1\n"
                           "\n\n"
                           "pointLight\n1 1 1\n0 5 0\n"
                           "directionLight\n1 1 1\n0 1 0\n"
                           "triangle\n0 0 0\n1 0 0\n0 1 0"),
            1);
  EXPECT_EQ(scene.cameraLine, 3u);
  EXPECT_EQ(scene.ambientLine, 7u);
  EXPECT_EQ(scene.firstMaterialLine, 12u);
  ASSERT_NE(scene.shapes, nullptr);
  EXPECT_EQ(scene.shapes->sourceLine, 25u);       // the triangle, last read
  EXPECT_EQ(scene.shapes->next->sourceLine, 14u); // the sphere
  EXPECT_EQ(scene.pointLights->sourceLine, 19u);
  EXPECT_EQ(scene.directionLights->sourceLine, 22u);
}
