#pragma once

#include "accel/HelperThreads.h"

// Runs `first` on a helper thread and `second` on this one and returns when
// both are done; when no helper is free (as within a helper's own work) or
// none can be started, runs both here, first first. An exception from either
// reaches the caller once the other has finished.
template <typename First, typename Second> void inTwoThreads(First &&first, Second &&second) {
  bool posted = false;
  try {
    posted = helpers::post(0, [&] { first(); });
  } catch (...) { // no memory to hand the work over
  }
  if (!posted) {
    first();
    second();
    return;
  }
  try {
    second();
  } catch (...) {
    try {
      helpers::finish(0);
    } catch (...) { // the first exception is the one reported
    }
    throw;
  }
  helpers::finish(0);
}
