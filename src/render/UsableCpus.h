#pragma once

#include <string>

// How many CPUs this process may run on: those in its affinity mask, fewer
// when a cgroup v2 CPU quota (cpu.max of its cgroup or an ancestor) allows
// less, and at least one. Linux only.
int usableCpuCount();

// The CPUs a cgroup v2 quota allows: the smallest quota / period (rounded up)
// in cpu.max of the cgroup named in `membershipFile` (as /proc/self/cgroup)
// and its ancestors under `cgroupRoot`; 0 when none sets one.
int cpusInQuota(const std::string &membershipFile, const std::string &cgroupRoot);
