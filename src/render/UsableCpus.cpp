#include "render/UsableCpus.h"

#include <sched.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace {

int cpusInAffinityMask() {
  // Masks beyond 1024 CPUs need a larger set; grow until it fits.
  for (int size = 1024; size <= (1 << 16); size *= 2) {
    cpu_set_t *set = CPU_ALLOC(size);
    if (set == nullptr) {
      break;
    }
    const std::size_t bytes = CPU_ALLOC_SIZE(size);
    const bool got = sched_getaffinity(0, bytes, set) == 0;
    const int count = got ? CPU_COUNT_S(bytes, set) : 0;
    CPU_FREE(set);
    if (got) {
      return count;
    }
  }
  return int(std::thread::hardware_concurrency());
}

} // namespace

int cpusInQuota(const std::string &membershipFile, const std::string &cgroupRoot) {
  std::ifstream membership(membershipFile);
  std::string line;
  std::string path;
  while (std::getline(membership, line)) {
    if (line.rfind("0::", 0) == 0) {
      path = line.substr(3);
    }
  }
  if (path.empty()) {
    return 0;
  }
  int limit = 0;
  while (true) {
    std::ifstream max(cgroupRoot + path + (path == "/" ? "" : "/") + "cpu.max");
    std::string quota;
    double period = 0;
    if (max >> quota >> period && quota != "max" && period > 0) {
      const double share = std::ceil(std::strtod(quota.c_str(), nullptr) / period);
      const int cpus = share < 1 ? 1 : share > 1e6 ? 1000000 : int(share);
      limit = limit == 0 ? cpus : std::min(limit, cpus);
    }
    if (path == "/" || path.empty()) {
      return limit;
    }
    path = path.substr(0, std::max<std::size_t>(1, path.rfind('/')));
  }
}

int usableCpuCount() {
  int cpus = cpusInAffinityMask();
  const int quota = cpusInQuota("/proc/self/cgroup", "/sys/fs/cgroup");
  if (quota > 0) {
    cpus = std::min(cpus, quota);
  }
  return std::max(1, cpus);
}
