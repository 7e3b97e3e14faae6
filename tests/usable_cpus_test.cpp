#include <gtest/gtest.h>

#include <sched.h>

#include <filesystem>

#include "render/UsableCpus.h"
#include "scratch_directory.h"

namespace {

TEST(UsableCpus, FollowTheAffinityMaskNotTheOnlineCount) {
  // As under taskset -c: one CPU allowed means one worker, however many exist.
  cpu_set_t all;
  ASSERT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  EXPECT_LE(usableCpuCount(), CPU_COUNT(&all));
  int first = 0;
  while (!CPU_ISSET(first, &all)) {
    ++first;
  }
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(first, &one);
  ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  EXPECT_EQ(usableCpuCount(), 1);
  sched_setaffinity(0, sizeof all, &all);
}

TEST(UsableCpus, TheTightestQuotaAlongTheCgroupPathCounts) {
  ScratchDirectory root;
  std::filesystem::create_directories(root.path() / "a/b");
  const std::string membership = root.write("membership", "1:cpu:/elsewhere\n0::/a/b\n").string();
  EXPECT_EQ(cpusInQuota(membership, root.path().string()), 0);
  root.write("a/b/cpu.max", "max 100000\n");
  root.write("a/cpu.max", "250000 100000\n"); // two and a half CPUs: three threads
  EXPECT_EQ(cpusInQuota(membership, root.path().string()), 3);
  root.write("cpu.max", "20000 100000\n"); // a fifth of a CPU still gets one
  EXPECT_EQ(cpusInQuota(membership, root.path().string()), 1);
}

} // namespace
