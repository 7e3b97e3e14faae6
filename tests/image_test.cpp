#include <gtest/gtest.h>

#include <cmath>

#include "image/Image.h"

namespace {

std::uint32_t le32(const std::vector<std::uint8_t> &b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | std::uint32_t(b[at + 3]) << 24;
}

TEST(ImagePixels, ChannelsTruncateAndNaNIsZero) {
  Image image(1, 1);
  image.setPixel(0, 0, 1.0f, 0.999f, 0.5f);
  EXPECT_EQ(image.pixels[0], 255);
  EXPECT_EQ(image.pixels[1], 254);
  EXPECT_EQ(image.pixels[2], 127);
  image.setPixel(0, 0, std::nanf(""), 0.0f, 0.0f);
  EXPECT_EQ(image.pixels[0], 0);
}

TEST(ImageBmp, HeaderAndPaddedRowsOfATwoByTwoImage) {
  Image image(2, 2);
  for (int y = 0; y < 2; ++y) {
    for (int x = 0; x < 2; ++x) {
      image.setPixel(x, y, 1.0f, 0.5f, 0.0f);
    }
  }
  const std::vector<std::uint8_t> bmp = image.encodeBmp();
  ASSERT_EQ(bmp.size(), 70u);
  EXPECT_EQ(bmp[0], 'B');
  EXPECT_EQ(bmp[1], 'M');
  EXPECT_EQ(le32(bmp, 2), 70u);
  EXPECT_EQ(le32(bmp, 10), 54u);
  EXPECT_EQ(le32(bmp, 14), 40u);
  EXPECT_EQ(le32(bmp, 18), 2u);
  EXPECT_EQ(le32(bmp, 22), 2u);
  EXPECT_EQ(bmp[26] | bmp[27] << 8, 1);
  EXPECT_EQ(bmp[28] | bmp[29] << 8, 24);
  for (std::size_t at = 30; at < 54; at += 4) {
    EXPECT_EQ(le32(bmp, at), 0u);
  }
  // Blue, green, red, then two filler bytes per row.
  const std::vector<std::uint8_t> row = {0, 127, 255, 0, 127, 255, 0, 0};
  EXPECT_TRUE(std::equal(row.begin(), row.end(), bmp.begin() + 54));
  EXPECT_TRUE(std::equal(row.begin(), row.end(), bmp.begin() + 62));
}

TEST(ImageBmp, BottomRowIsWrittenFirstWithoutFillerWhenAligned) {
  Image image(4, 2);
  for (int x = 0; x < 4; ++x) {
    image.setPixel(x, 0, 0.0f, 0.0f, 1.0f);
    image.setPixel(x, 1, 1.0f, 0.0f, 0.0f);
  }
  const std::vector<std::uint8_t> bmp = image.encodeBmp();
  ASSERT_EQ(bmp.size(), 54u + 24u);
  EXPECT_EQ(bmp[54], 255); // blue of the bottom row
  EXPECT_EQ(bmp[66], 0);   // the second row starts at 54 + 12
  EXPECT_EQ(bmp[68], 255);
}

TEST(ImageBmp, UnopenablePathIsReported) {
  Image image(1, 1);
  image.setPixel(0, 0, 0, 0, 0);
  testing::internal::CaptureStdout();
  EXPECT_EQ(image.writeBmp("/no/such/dir/out.bmp"), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Could not open file for writing : /no/such/dir/out.bmp\n");
}

} // namespace
