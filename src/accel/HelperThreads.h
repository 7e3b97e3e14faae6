#pragma once

#include <cstddef>
#include <functional>

// Threads kept for the whole run and handed work, instead of a new thread
// for each piece of it. A new thread often waits milliseconds on its parent's
// processor before the system moves it to an idle one (measured on a
// two-processor virtual machine: the helper of a 5 ms half started after 3 to
// 5 ms, so the halves took nearly twice as long); a kept thread, woken, runs
// at once on the processor it last ran on.
namespace helpers {

// Starts helpers 0 .. count-1 now, so that the system has spread them over
// the processors before the first work comes (helpers otherwise start when
// first asked). Each spins for a few milliseconds first, for that reason,
// and briefly whenever it or its caller waits: only after a start() with a
// count above 0, which says there are processors to spare for it.
void start(std::size_t count);

// Runs work() on helper `index` while the caller goes on, and `finish`
// waits for it; false when that helper is busy (as when a helper asks for
// itself), out of range, or cannot be started: the caller runs the work.
bool post(std::size_t index, std::function<void()> work);

// Waits until the work posted to helper `index` has finished; an exception
// it threw is thrown here. Every successful post needs one finish.
void finish(std::size_t index);

} // namespace helpers
