#pragma once

#include <exception>
#include <thread>

// Runs `first` on a new thread and `second` on this one and returns when both
// are done; when no thread can be started, runs both here, first first. An
// exception from either reaches the caller once the other has finished: one
// leaving a thread's function, or a joinable thread being destroyed, would
// end the process.
template <typename First, typename Second> void inTwoThreads(First &&first, Second &&second) {
  std::exception_ptr firstFailure;
  std::thread worker;
  try {
    worker = std::thread([&] {
      try {
        first();
      } catch (...) {
        firstFailure = std::current_exception();
      }
    });
  } catch (...) {
    first(); // no thread (or no memory for one)
    second();
    return;
  }
  try {
    second();
  } catch (...) {
    worker.join();
    throw;
  }
  worker.join();
  if (firstFailure) {
    std::rethrow_exception(firstFailure);
  }
}
