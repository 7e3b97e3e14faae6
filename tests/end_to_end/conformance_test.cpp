// Every conformance case: the real binary, run in a copy of the case's
// folder, must reproduce standard output, exit status and the BMP file byte
// for byte, and must leave no file behind where none is expected.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> caseNames() {
  std::vector<std::string> names;
  for (const auto &entry : fs::directory_iterator(CONFORMANCE_DIR)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Conformance : public testing::TestWithParam<std::string> {};

TEST_P(Conformance, MatchesExpectedOutputStatusAndImage) {
  const fs::path source = fs::path(CONFORMANCE_DIR) / GetParam();
  ScratchDirectory dir;
  fs::copy(source, dir.path(), fs::copy_options::recursive);

  const std::vector<std::string> args = readLines(source / "args");
  ASSERT_EQ(args.size(), 4u);
  const ProgramResult result = runProgram(RAYTRACER_BINARY, args, dir.path());

  EXPECT_EQ(result.out, readFile(source / "expected.stdout"));
  EXPECT_EQ(result.status, std::stoi(readFile(source / "expected.status")));
  const fs::path image = dir.path() / args[1];
  if (fs::exists(source / "expected.bmp")) {
    ASSERT_TRUE(fs::is_regular_file(image));
    EXPECT_TRUE(readFile(image) == readFile(source / "expected.bmp")) << "BMP bytes differ";
  } else {
    EXPECT_FALSE(fs::is_regular_file(image)) << "an output file was left behind";
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Conformance, testing::ValuesIn(caseNames()),
                         [](const testing::TestParamInfo<std::string> &info) {
                           std::string name = info.param;
                           std::replace_if(
                               name.begin(), name.end(), [](char c) { return !std::isalnum(c); },
                               '_');
                           return name;
                         });

} // namespace
