#include "app/HeapWarmUp.h"

#include <algorithm>
#include <cstddef>
#include <cstdlib>

#include "accel/HelperThreads.h"

#if defined(__GLIBC__) && defined(__linux__)
#include <malloc.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#if defined(__GLIBC__) && defined(__linux__) && defined(MADV_POPULATE_WRITE)
#define HEAP_WARM_UP 1
#endif

namespace {

constexpr std::size_t kHeapPerFileByte = 8;
constexpr std::size_t kMostBytes = std::size_t(48) << 20;
constexpr std::size_t kLeastBytes = std::size_t(1) << 20;
// Larger than the heap's free top at start, so taking it grows the heap.
constexpr std::size_t kGrowingBlock = std::size_t(1) << 20;
// A block further than this below the end of the heap is not from its top.
constexpr std::uintptr_t kMostHeapAbove = std::uintptr_t(1) << 30;
// Filled per call, so that a finished load stops the warming soon.
constexpr std::size_t kStep = std::size_t(2) << 20;
// The library's own M_TOP_PAD.
constexpr int kDefaultTopPad = 128 * 1024;

} // namespace

HeapWarmUp::HeapWarmUp([[maybe_unused]] const char *scenePath,
                       [[maybe_unused]] bool spareProcessor) {
#if defined(HEAP_WARM_UP)
  if (!spareProcessor) {
    return;
  }
  struct stat status {};
  if (::stat(scenePath, &status) != 0 || !S_ISREG(status.st_mode)) {
    return;
  }
  const std::size_t fileBytes = std::size_t(status.st_size);
  const std::size_t budget =
      fileBytes > kMostBytes / kHeapPerFileByte ? kMostBytes : fileBytes * kHeapPerFileByte;
  if (budget < kLeastBytes) {
    return;
  }
  // From now on the heap grows by `budget` more than it is asked for (address
  // space only, until touched); the block taken and given back makes it grow
  // once, so that everything from the block to the end of the heap is free top.
  mallopt(M_TOP_PAD, int(budget));
  padded_ = true;
  void *block = std::malloc(kGrowingBlock);
  if (block == nullptr) {
    finish();
    return;
  }
  const auto begin = reinterpret_cast<std::uintptr_t>(block);
  std::free(block);
  const auto heapEnd = reinterpret_cast<std::uintptr_t>(sbrk(0));
  // Not the program break's heap (an allocator of its own, as sanitizers
  // bring, or a heap the library had to map elsewhere): leave it be.
  if (!(begin < heapEnd) || heapEnd - begin > kMostHeapAbove) {
    finish();
    return;
  }
  const std::uintptr_t end = std::min(heapEnd, begin + budget);
  try {
    posted_ = helpers::post(0, [this, begin, end] { populate(begin, end); });
  } catch (...) { // no memory to hand the work over
  }
  if (!posted_) {
    finish();
  }
#endif
}

void HeapWarmUp::populate([[maybe_unused]] std::uintptr_t begin,
                          [[maybe_unused]] std::uintptr_t end) {
#if defined(HEAP_WARM_UP)
  // Filling page tables changes no byte of the memory, so it is safe beside
  // the loader's own use of the same pages.
  const auto page = std::uintptr_t(sysconf(_SC_PAGESIZE));
  begin = (begin + page - 1) / page * page;
  end = end / page * page;
  for (std::uintptr_t at = begin; at < end && !stop_.load(std::memory_order_relaxed); at += kStep) {
    const std::size_t bytes = std::min<std::uintptr_t>(kStep, end - at);
    if (madvise(reinterpret_cast<void *>(at), bytes, MADV_POPULATE_WRITE) != 0) {
      return; // an older kernel, or no memory to spare: the run faults them in itself
    }
  }
#endif
}

void HeapWarmUp::finish() {
  stop_ = true;
  if (posted_) {
    posted_ = false;
    helpers::finish(0);
  }
#if defined(HEAP_WARM_UP)
  if (padded_) {
    padded_ = false;
    mallopt(M_TOP_PAD, kDefaultTopPad);
  }
#endif
}
