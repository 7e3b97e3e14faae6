#pragma once

#include <functional>

#include "geometry/Vec3.h"

// The most rows runBands() hands out at once.
inline constexpr int kMaxBandRows = 16;

// Runs the rows of a render on `threads` threads (1 = on the calling thread
// alone), handed out in bands of consecutive rows: `bandRows` (1 to
// kMaxBandRows) at a time, fewer at the end so that the threads finish
// together. Row start directions are formed in row order by repeated
// addition: `start`, start + stepY, (start + stepY) + stepY, ..., so each row
// gets the value a single loop would give. renderBand(firstRow, rowCount,
// rowStarts) runs on a worker; rowFinished(row) runs on the calling thread,
// once per row, in row order, as soon as that row and every row before it
// are finished.
void runBands(int height, int threads, int bandRows, const Vec3 &start, const Vec3 &stepY,
              const std::function<void(int, int, const Vec3 *)> &renderBand,
              const std::function<void(int)> &rowFinished);

// The same one row at a time: renderRow(row, rowStart).
void runRows(int height, int threads, const Vec3 &start, const Vec3 &stepY,
             const std::function<void(int, const Vec3 &)> &renderRow,
             const std::function<void(int)> &rowFinished);
