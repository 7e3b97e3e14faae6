#pragma once

// Asks the C library's allocator to keep freed memory for reuse by any
// thread. Does nothing where the library offers no such settings.
void tuneAllocator();
