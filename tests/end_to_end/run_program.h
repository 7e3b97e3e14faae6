#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

struct ProgramResult {
  std::string out;
  int status = -1;
};

// Runs `binary` with `args` in `workingDirectory`, without a shell, and
// returns its standard output and exit status (-1 if it did not exit). A
// non-zero `addressSpaceBytes` limits the program's memory, so that running
// out of it can be tested.
ProgramResult runProgram(const std::string &binary, const std::vector<std::string> &args,
                         const std::filesystem::path &workingDirectory,
                         std::size_t addressSpaceBytes = 0);

// A fresh empty directory, removed with its contents on destruction.
class ScratchDirectory {
public:
  ScratchDirectory();
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory &) = delete;
  ScratchDirectory &operator=(const ScratchDirectory &) = delete;

  const std::filesystem::path &path() const { return path_; }
  // Writes `bytes` to a file in the directory and returns its path.
  std::filesystem::path write(const std::string &name, const std::string &bytes) const;

private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path &path);

// Success when the run printed exactly `message`, exited with status 1 and
// left no file at `output`.
testing::AssertionResult refusedWith(const ProgramResult &result, const std::string &message,
                                     const std::filesystem::path &output);
