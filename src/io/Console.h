#pragma once

#include <cstdio>
#include <string>

// Prints a one-line message and its newline on standard output, where every
// message of both programs goes, and flushes at once so the line is out
// before the process ends or starts a long render.
inline void sayLine(const std::string &message) {
  std::fputs(message.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// Says `message` and returns `status`, so that a command ends in one line:
// `return endWith(usage);`.
inline int endWith(const std::string &message, int status = 1) {
  sayLine(message);
  return status;
}
