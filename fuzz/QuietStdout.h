#pragma once

#include <cstdio>
#include <cstdlib>

// The library reports progress and errors on standard output; for every
// input that would drown the fuzzer's own output, so targets that load or
// render send it to /dev/null once at start-up.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) {
    std::abort();
  }
  return 0;
}
