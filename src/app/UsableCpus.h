#pragma once

// How many CPUs this process may run on: those in its affinity mask, fewer
// when a cgroup v2 CPU quota (cpu.max of its cgroup or an ancestor) allows
// less, and at least one. Linux only.
int usableCpuCount();
