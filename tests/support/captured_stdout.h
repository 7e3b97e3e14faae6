#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

// Runs `body` and returns what it printed on standard output.
template <typename Body> std::string capturedStdout(Body &&body) {
  testing::internal::CaptureStdout();
  body();
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}
