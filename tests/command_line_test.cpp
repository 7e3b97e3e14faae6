#include <gtest/gtest.h>

#include "app/CommandLine.h"

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

} // namespace
