#pragma once

#include <functional>

#include "geometry/Vec3.h"

// Runs the rows of a render on `threads` threads (1 = on the calling thread
// alone). Row start directions are formed in row order by repeated addition:
// `start`, start + stepY, (start + stepY) + stepY, ..., so each row gets the
// value a single loop would give. renderRow(row, rowStart) runs on a worker;
// rowFinished(row) runs on the calling thread, once per row, in row order, as
// soon as that row and every row before it are finished.
void runRows(int height, int threads, const Vec3 &start, const Vec3 &stepY,
             const std::function<void(int, const Vec3 &)> &renderRow,
             const std::function<void(int)> &rowFinished);
