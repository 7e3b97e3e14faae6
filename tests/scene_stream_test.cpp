// The scene loader's reading of numbers and of file lines (its messages are covered line by
// line by the conformance cases), and reading input whose size is not known beforehand.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "captured_stdout.h"
#include "geometry/Sphere.h"
#include "geometry/Triangle.h"
#include "io/WholeFile.h"
#include "scene/Scene.h"
#include "scene/SceneStream.h"
#include "scratch_directory.h"

namespace {

bool readsAsAStreamAlone(const std::string &input) {
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
    EXPECT_EQ(stream.readLine(), rest.substr(0, rest.find('\0'))) << input; // lines end at a NUL
  }
  return !testing::Test::HasFailure();
}

// The loader promises the same number, bit for bit, and the same characters
// consumed as formatted extraction of a double from a standard stream. Short
// numbers take a shortcut only where a few more characters are in memory;
// white space after the input puts them there.
bool readsAsAStream(const std::string &input) {
  return readsAsAStreamAlone(input) && readsAsAStreamAlone(input + std::string(20, ' '));
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
    readsAsAStream(input);
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
  // The short forms around their limits: digit counts up to 9 on each side
  // of an optional point, with a sign, and followed by what may continue a number.
  const std::string tails[] = {
      "", "e5", "E-2", "e", "x", ".", ".5", "\n7", std::string(1, '\0') + "1"};
  for (int i = 0; i < 20000; ++i) {
    std::string text = std::string(1, "+- 0"[random() % 4]);
    const auto digits = [&](int count) {
      for (int d = 0; d < count; ++d) {
        text += char('0' + random() % 10);
      }
    };
    digits(int(random() % 10));
    if (random() % 4 != 0) {
      text += '.';
      digits(int(random() % 10));
    }
    text += tails[random() % std::size(tails)];
    ASSERT_TRUE(readsAsAStream(text));
  }
}

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

// What a load gives: its status, its message and every shape with its line.
std::string loaded(const std::function<int(Scene &)> &load) {
  Scene scene;
  int status = 0;
  std::ostringstream out;
  out << capturedStdout([&] { status = load(scene); }) << status << " camera " << scene.cameraLine
      << "\n";
  for (const Shape *shape = scene.shapes; shape != nullptr; shape = shape->next) {
    out << shape->sourceLine << " " << shape->material.color.x << " ";
    if (shape->kind == Shape::Kind::Triangle) {
      const auto &t = static_cast<const Triangle &>(*shape);
      out << t.vertex0.x << " " << t.vertex1.y << " " << t.vertex2.z << "\n";
    } else {
      out << static_cast<const Sphere &>(*shape).radius << "\n";
    }
  }
  return out.str();
}

// A file is read a piece at a time. Whatever falls on the seams between
// pieces (a CR LF, a number, a run of blanks or a token longer than a piece,
// a fault) it loads as the same text in memory does.
TEST(SceneFile, LoadsAsTheSameTextInMemory) {
  const std::size_t seam = SceneStream::kPieceBytes;
  // Comment lines of `size` characters in all; the count of lines they take
  // is `padLines(size)`.
  const auto pad = [](std::size_t size) {
    std::string text;
    for (; size >= 100; size -= 100) {
      text += "#" + std::string(98, '-') + "\n";
    }
    return text + std::string(size, '\n');
  };
  const auto padLines = [&](std::size_t size) {
    const std::string text = pad(size);
    return std::size_t(std::count(text.begin(), text.end(), '\n'));
  };
  const std::string body = "camera\r\n0 0 5 0 0 0\r\n0 1 0 40\r\nmaterial\r\n0.25 1 1 1 0\r\n"
                           "triangle\r\n-1.5 2.25e1 3\r\n4 5 6\r\n7 8 9\r\nsphere\r\n0 0 0 2\r\r\n";
  std::vector<std::string> texts;
  for (std::size_t shift = 0; shift < body.size(); ++shift) {
    texts.push_back(pad(seam - shift) + body);
  }
  texts.push_back(body + "triangle\n" + std::string(3 * seam, '0') + "1.5 2 3 4 5 6 7 8 9\n");
  texts.push_back(body + "triangle\n1 2" + std::string(3 * seam, ' ') + "3 4 5 6 7 8 9\r");
  texts.push_back(pad(seam - 5) + "triangle\n1 2 3 4 5 6 7 8 x9\n" + body);
  texts.push_back(pad(seam - 200) + "# " + std::string(300, 'c') + "\n" + body);
  texts.push_back(pad(seam - 1) + "\r");
  const ScratchDirectory directory;
  std::vector<std::string> outcomes; // the first line of each
  for (const std::string &text : texts) {
    const std::string path = directory.write("scene.txt", text).string();
    const std::string expected = loaded([&](Scene &scene) { return scene.loadText(text); });
    ASSERT_EQ(loaded([&](Scene &scene) { return scene.load(path); }), expected)
        << "a text of " << text.size() << " characters";
    outcomes.push_back(expected.substr(0, expected.find('\n')));
  }
  // All load but the last three, which fail where they are meant to.
  const std::size_t n = outcomes.size();
  for (std::size_t i = 0; i + 3 < n; ++i) {
    EXPECT_EQ(outcomes[i].substr(0, 9), "1 camera ") << i;
  }
  EXPECT_EQ(outcomes[n - 3],
            "Line " + std::to_string(padLines(seam - 5) + 1) + ": Bad number in triangle");
  EXPECT_EQ(outcomes[n - 2], "Line " + std::to_string(padLines(seam - 200) + 1) +
                                 ": Line longer than 255 characters");
  EXPECT_EQ(outcomes[n - 1],
            "Line " + std::to_string(padLines(seam - 1) + 1) + ": Unexpected command \r");

  // The size limit counts every byte, read for the text or drained after a
  // fault in it.
  const std::string path = directory.write("scene.txt", texts[0]).string();
  for (const std::uintmax_t limit : {texts[0].size() - 1, texts[0].size()}) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"),
                                                                std::fclose);
    SceneStream in(file.get(), limit);
    in.readLine();
    in.drain();
    EXPECT_EQ(in.readResult(), limit < texts[0].size() ? ReadResult::TooLarge : ReadResult::Ok);
  }
}

// Input from a pipe or a device has no size to check beforehand: reading
// stops as soon as the text would pass the limit, so an endless device cannot
// take all memory; stopping short of the end shows it would. (A regular file
// beyond the limit is refused before it is read: see the end-to-end tests.)
TEST(ReadAll, PipeInputStopsAtTheLimit) {
  const std::string piped(50000, 'x'); // less than a pipe holds: written before it is read
  for (const std::uintmax_t limit : {piped.size(), piped.size() - 1}) {
    int ends[2];
    ASSERT_EQ(pipe(ends), 0);
    ASSERT_EQ(write(ends[1], piped.data(), piped.size()), ssize_t(piped.size()));
    close(ends[1]);
    const std::unique_ptr<std::FILE, int (*)(std::FILE *)> reader(fdopen(ends[0], "rb"),
                                                                  std::fclose);
    std::string text;
    const bool whole = limit == piped.size();
    EXPECT_EQ(readAll(reader.get(), text, limit), whole ? ReadResult::Ok : ReadResult::TooLarge);
    EXPECT_TRUE(whole ? text == piped : text.size() < piped.size());
  }
}

} // namespace
