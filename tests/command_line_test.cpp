#include <gtest/gtest.h>

#include <sched.h>

#include <filesystem>

#include "app/CommandLine.h"
#include "render/UsableCpus.h"
#include "scratch_directory.h"

namespace {

TEST(SizeArgument, ReadsLikeAtoiWithinThirtyTwoBits) {
  EXPECT_EQ(parseSizeArgument("640px"), 640);
  EXPECT_EQ(parseSizeArgument(" \t+35"), 35);
  EXPECT_EQ(parseSizeArgument("abc"), 0);
  EXPECT_EQ(parseSizeArgument("-5"), -5);
  EXPECT_EQ(parseSizeArgument("2147483647"), 2147483647);
  EXPECT_EQ(parseSizeArgument("2147483648"), std::nullopt);
  EXPECT_EQ(parseSizeArgument("99999999999999999999999"), std::nullopt);
}

TEST(SizeArgument, LargestImagesStillFitTheBmpFields) {
  int w = 0;
  int h = 0;
  EXPECT_EQ(checkImageSize("26754", "26754", w, h), "");
  EXPECT_EQ(w, 26754);
  EXPECT_NE(checkImageSize("26755", "26755", w, h), "");
  EXPECT_NE(checkImageSize("2147483647", "1", w, h), "");
  // The byte counts of the largest sizes overflow a signed 64-bit product.
  EXPECT_NE(checkImageSize("2147483647", "2147483647", w, h), "");
  EXPECT_NE(checkImageSize("2147482648", "2146483648", w, h), "");
}

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
