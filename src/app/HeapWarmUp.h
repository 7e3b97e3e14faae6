#pragma once

#include <atomic>
#include <cstdint>

// Faults in, on helper thread 0 while the scene loads, the heap that loading,
// building and rendering are about to use. The first touch of each page is a
// trap into the kernel (1.4 to 1.6 us on a virtual machine, 0.9 us when the
// kernel fills a range at once), and the structures of a scene of 50,000
// triangles touch about ten thousand pages, most of them on the path the run
// waits for. The amount is guessed from the scene file's size (8 bytes of heap
// per byte of file, at most 48 MiB) and the warming stops when the load ends.
// Only with the GNU C library's heap on Linux; elsewhere it does nothing.
class HeapWarmUp {
public:
  // Does nothing unless `spareProcessor`: on the loader's own processor the
  // warming would only take turns with it.
  HeapWarmUp(const char *scenePath, bool spareProcessor);
  ~HeapWarmUp() { finish(); }
  HeapWarmUp(const HeapWarmUp &) = delete;
  HeapWarmUp &operator=(const HeapWarmUp &) = delete;

  // Stops the warming and waits for helper 0, which is then free.
  void finish();

  // Whether a helper is warming (for tests).
  bool warming() const { return posted_; }

private:
  void populate(std::uintptr_t begin, std::uintptr_t end);

  std::atomic<bool> stop_{false};
  bool posted_ = false;
  bool padded_ = false;
};
