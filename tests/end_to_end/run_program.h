#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "scratch_directory.h"

struct ProgramResult {
  std::string out;
  int status = -1;
  int signal = 0; // the signal that ended the program, if one did

  bool operator==(const ProgramResult &) const = default;
};

inline void PrintTo(const ProgramResult &result, std::ostream *out) {
  *out << "status " << result.status << ", signal " << result.signal << ", printed \"" << result.out
       << "\"";
}

// How the child is set up besides its arguments.
struct ChildSetup {
  std::size_t addressSpaceBytes = 0;    // a memory limit, when not 0
  std::size_t fileSizeBytes = 0;        // a file-size limit (ulimit -f), when not 0
  std::vector<std::string> environment; // NAME=value, added to this process's
  bool closedStdout = false;            // standard output is a pipe nobody reads
};

// A child whose memory is limited to `bytes`, so that running out of it can be tested.
inline ChildSetup memoryLimit(std::size_t bytes) {
  ChildSetup setup;
  setup.addressSpaceBytes = bytes;
  return setup;
}

// Starts `binary` as runProgram does and returns its process id;
// finishProgram waits for it.
int startProgram(const std::string &binary, const std::vector<std::string> &args,
                 const std::filesystem::path &workingDirectory, const ChildSetup &setup);
ProgramResult finishProgram(int pid, const std::filesystem::path &workingDirectory);

// Runs `binary` with `args` in `workingDirectory`, without a shell, and
// returns its standard output and exit status (-1 if it did not exit).
ProgramResult runProgram(const std::string &binary, const std::vector<std::string> &args,
                         const std::filesystem::path &workingDirectory,
                         const ChildSetup &setup = {});

// Success when the run printed exactly `message`, exited with status 1 and
// left no file at `output`.
testing::AssertionResult refusedWith(const ProgramResult &result, const std::string &message,
                                     const std::filesystem::path &output);
