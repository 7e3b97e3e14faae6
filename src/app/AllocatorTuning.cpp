#include "app/AllocatorTuning.h"

#include <cstdlib>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

void tuneAllocator() {
#if defined(__GLIBC__)
  // A render builds its large structures one after another, on two threads,
  // freeing the temporaries of each before the next. By default freed blocks
  // of 128 KiB and more go back to the system and each thread allocates from
  // its own arena, so the next structure faults in fresh pages, each first
  // touch a trap into the kernel. One arena, and freed memory kept (up to the
  // largest threshold the library takes), let it reuse pages already touched.
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}
