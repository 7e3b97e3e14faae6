// scenetool explain on the real binary: its bytes are the rendered file's,
// rows count from the bottom or, with --from-top, from the top, and a light
// in shadow names the shape in the way.

#include <gtest/gtest.h>

#include "run_program.h"

namespace {

// A floor under a ball, lit from straight above: the ball shadows the floor
// beneath it. Lines: directionLight 6, floor triangles 13 and 17, ball 21.
const std::string kScene = "camera\n0 2 8\n0 1 0\n0 1 0\n40\n"
                           "directionLight\n1 1 1\n0 1 0\n"
                           "material\n0.5 0.5 0.5\n10\n0.5\n"
                           "triangle\n-10 0 -10\n-10 0 10\n10 0 10\n"
                           "triangle\n-10 0 -10\n10 0 10\n10 0 -10\n"
                           "sphere\n0 1.5 0\n1\n";

ProgramResult explain(const ScratchDirectory &dir, std::vector<std::string> args) {
  args.insert(args.begin(), {"explain", "s.txt"});
  return runProgram(SCENETOOL_BINARY, args, dir.path());
}

TEST(ScenetoolExplain, BytesAreTheRenderedPixelsAndRowsCountBothWays) {
  ScratchDirectory dir;
  dir.write("s.txt", kScene);
  ASSERT_EQ(runProgram(RAYTRACER_BINARY, {"s.txt", "out.bmp", "8", "6"}, dir.path()).status, 0);
  const std::string bmp = readFile(dir.path() / "out.bmp");
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      // Rows are stored bottom-up, 8 x 3 bytes each (no padding), blue first.
      const std::size_t at = 54 + std::size_t(y * 8 + x) * 3;
      const std::string bytes = "\"bytes\": [" + std::to_string(std::uint8_t(bmp[at + 2])) + ", " +
                                std::to_string(std::uint8_t(bmp[at + 1])) + ", " +
                                std::to_string(std::uint8_t(bmp[at])) + "]}\n";
      const ProgramResult json =
          explain(dir, {"8", "6", std::to_string(x), std::to_string(y), "--json"});
      ASSERT_EQ(json.status, 0);
      EXPECT_EQ(json.out.substr(json.out.size() - bytes.size()), bytes) << x << ", " << y;
      EXPECT_EQ(explain(dir, {"8", "6", std::to_string(x), std::to_string(5 - y), "--json",
                              "--from-top"}),
                json);
    }
  }
}

TEST(ScenetoolExplain, NamesTheShapeHitAndTheShapeThatCastsTheShadow) {
  ScratchDirectory dir;
  dir.write("s.txt", kScene);
  const ProgramResult ball = explain(dir, {"3", "3", "1", "1"});
  EXPECT_EQ(ball.status, 0);
  EXPECT_NE(ball.out.find("\n  hits sphere (line 21) at t = "), std::string::npos) << ball.out;
  // The middle of the picture is the floor under the ball.
  dir.write("s.txt", kScene + "camera\n0 2 8\n0 0 0.5\n0 1 0\n40\n");
  const ProgramResult floor = explain(dir, {"3", "3", "1", "1"});
  EXPECT_NE(floor.out.find("\n  hits triangle (line 13) at t = "), std::string::npos) << floor.out;
  EXPECT_NE(floor.out.find("\n  directionLight (line 6): in shadow, blocked by sphere (line 21)"),
            std::string::npos)
      << floor.out;
}

TEST(ScenetoolExplain, RefusesPixelsOutsideThePicture) {
  ScratchDirectory dir;
  dir.write("s.txt", kScene);
  EXPECT_EQ(explain(dir, {"8", "6", "8", "0"}).out,
            "Invalid column '8': expected a whole number from 0 to 7\n");
  EXPECT_EQ(explain(dir, {"8", "6", "x", "0"}).out,
            "Invalid column 'x': expected a whole number from 0 to 7\n");
  EXPECT_EQ(explain(dir, {"8", "6", "0", "2px"}).status, 1);
  EXPECT_EQ(explain(dir, {"8", "6", "0", "-1"}).status, 1);
  EXPECT_EQ(explain(dir, {"8", "6", "0"}).status, 1);
  // What is printed is the product: a reader that went away is no success.
  ChildSetup unread;
  unread.closedStdout = true;
  EXPECT_EQ(
      runProgram(SCENETOOL_BINARY, {"explain", "s.txt", "8", "6", "0", "0"}, dir.path(), unread)
          .status,
      1);
  EXPECT_EQ(runProgram(SCENETOOL_BINARY, {"check", "s.txt"}, dir.path(), unread).status, 2);
}

} // namespace
