#include "render/RowRunner.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <exception>
#include <mutex>
#include <vector>

#include "accel/HelperThreads.h"

namespace {

// Hands out bands of rows in order and tells how many leading rows are
// finished. A band is finished once it is claimed and no worker holds it any
// more; nothing per row is stored.
class RowQueue {
public:
  RowQueue(int height, int bandRows, const Vec3 &start, const Vec3 &stepY, int workers)
      : height_(height), bandRows_(bandRows), nextStart_(start), stepY_(stepY),
        inProgress_(workers, kIdle) {}

  // Marks the worker's current band finished and gives it the next one, its
  // first row, row count and row starts; false when every row has been
  // handed out.
  bool next(int worker, int &row, int &rows, Vec3 rowStarts[]) {
    bool claimed = false;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      inProgress_[worker] = kIdle;
      if (nextRow_ < height_) {
        row = nextRow_;
        rows = bandSize(height_ - nextRow_, int(inProgress_.size()));
        for (int i = 0; i < rows; ++i) {
          rowStarts[i] = nextStart_;
          nextStart_ = add(nextStart_, stepY_);
        }
        nextRow_ += rows;
        inProgress_[worker] = row;
        claimed = true;
      }
    }
    finished_.notify_one();
    return claimed;
  }

  // How many leading rows are finished now.
  int finishedSoFar() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return finishedRows();
  }

  // A worker failed: no more rows are handed out, and the rows it held
  // never finish.
  void abandon() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      nextRow_ = height_;
      abandoned_ = true;
    }
    finished_.notify_all();
  }

  // Waits until more than `reported` leading rows are finished and returns
  // how many are; -1 once a worker has failed.
  int waitBeyond(int reported) {
    std::unique_lock<std::mutex> lock(mutex_);
    int finished = 0;
    finished_.wait(lock, [&] {
      finished = abandoned_ ? -1 : finishedRows();
      return finished != reported;
    });
    return finished;
  }

private:
  static constexpr int kIdle = -1;

  int finishedRows() const {
    int finished = nextRow_;
    for (const int row : inProgress_) {
      if (row != kIdle && row < finished) {
        finished = row;
      }
    }
    return finished;
  }

  // A full band while plenty remain, then smaller ones: each worker still
  // gets about two bands of what is left, so none is left alone with a
  // long band at the end.
  int bandSize(int remaining, int workers) const {
    const int share = remaining / (2 * workers);
    return std::max(1, std::min({bandRows_, share, remaining}));
  }

  const int height_;
  const int bandRows_;
  std::mutex mutex_;
  std::condition_variable finished_;
  int nextRow_ = 0;
  bool abandoned_ = false;
  Vec3 nextStart_;
  const Vec3 stepY_;
  std::vector<int> inProgress_; // per worker: its row, or kIdle
};

} // namespace

void runBands(int height, int threads, int bandRows, const Vec3 &start, const Vec3 &stepY,
              const std::function<void(int, int, const Vec3 *)> &renderBand,
              const std::function<void(int)> &rowFinished) {
  bandRows = std::clamp(bandRows, 1, kMaxBandRows);
  const int workerCount = std::max(1, std::min(threads, height));

  // The calling thread is worker 0: it renders rows too and reports the
  // finished ones between its rows, so nothing wakes it per row (a waiting
  // reporter woken for every row cost a context switch each, about a tenth
  // of the render's processor time at two threads).
  RowQueue queue(height, bandRows, start, stepY, workerCount);
  // Helper threads render rows beside this one; a helper that cannot be had
  // leaves the rows to those that run.
  std::size_t posted = 0;
  for (int worker = 1; worker < workerCount; ++worker) {
    bool running = false;
    try {
      running = helpers::post(posted, [&queue, &renderBand, worker] {
        try {
          int row = 0;
          int rows = 0;
          Vec3 rowStarts[kMaxBandRows];
          while (queue.next(worker, row, rows, rowStarts)) {
            renderBand(row, rows, rowStarts);
          }
        } catch (...) {
          queue.abandon();
          throw;
        }
      });
    } catch (...) { // no memory to hand the work over
    }
    if (!running) {
      break;
    }
    ++posted;
  }
  const auto finishHelpers = [&posted] {
    std::exception_ptr failure;
    for (std::size_t helper = 0; helper < posted; ++helper) {
      try {
        helpers::finish(helper);
      } catch (...) {
        if (!failure) {
          failure = std::current_exception();
        }
      }
    }
    posted = 0;
    if (failure) {
      std::rethrow_exception(failure);
    }
  };

  int reported = 0;
  const auto report = [&](int finished) {
    for (; reported < finished; ++reported) {
      rowFinished(reported);
    }
  };
  try {
    int row = 0;
    int rows = 0;
    Vec3 rowStarts[kMaxBandRows];
    while (queue.next(0, row, rows, rowStarts)) {
      report(queue.finishedSoFar());
      renderBand(row, rows, rowStarts);
    }
    while (reported < height) {
      const int finished = queue.waitBeyond(reported);
      if (finished < 0) {
        break; // a helper failed: finishing it hands its failure on
      }
      report(finished);
    }
  } catch (...) {
    // The helpers finish the rows they have claimed, then stop.
    queue.abandon();
    try {
      finishHelpers();
    } catch (...) { // the first exception is the one reported
    }
    throw;
  }
  finishHelpers();
}

void runRows(int height, int threads, const Vec3 &start, const Vec3 &stepY,
             const std::function<void(int, const Vec3 &)> &renderRow,
             const std::function<void(int)> &rowFinished) {
  runBands(
      height, threads, 1, start, stepY,
      [&renderRow](int row, int, const Vec3 *rowStarts) { renderRow(row, rowStarts[0]); },
      rowFinished);
}
