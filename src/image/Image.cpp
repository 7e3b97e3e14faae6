#include "image/Image.h"

#include <algorithm>
#include <new>

#include "io/Console.h"
#include "io/WholeFile.h"

namespace {

constexpr std::size_t kInfoHeaderSize = 40;

void putLittleEndian(std::uint8_t *at, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    at[i] = std::uint8_t(value >> (8 * i));
  }
}

} // namespace

Image::Image(int width_, int height_)
    : width(width_), height(height_),
      pixels(new (std::nothrow) std::uint8_t[std::size_t(width_) * std::size_t(height_) * 3]) {}

void Image::encodeBmpHeader(std::uint8_t *h) const {
  std::fill(h, h + kBmpHeaderSize, std::uint8_t(0));
  h[0] = 'B';
  h[1] = 'M';
  putLittleEndian(h + 2, std::uint32_t(bmpFileSize(width, height)), 4);
  putLittleEndian(h + 10, kBmpHeaderSize, 4);
  putLittleEndian(h + 14, kInfoHeaderSize, 4);
  putLittleEndian(h + 18, std::uint32_t(width), 4);
  // Positive height: rows are stored bottom-up.
  putLittleEndian(h + 22, std::uint32_t(height), 4);
  putLittleEndian(h + 26, 1, 2);
  putLittleEndian(h + 28, 24, 2);
  // Compression, image size, resolutions and palette counts stay 0.
}

void Image::encodeBmpRow(int y, std::uint8_t *dst) const {
  const std::uint8_t *src = pixels.get() + std::size_t(y) * std::size_t(width) * 3;
  for (std::size_t x = 0; x < std::size_t(width); ++x) {
    dst[3 * x + 0] = src[3 * x + 2];
    dst[3 * x + 1] = src[3 * x + 1];
    dst[3 * x + 2] = src[3 * x + 0];
  }
  std::fill(dst + std::size_t(width) * 3, dst + bmpRowSize(width), std::uint8_t(0));
}

std::vector<std::uint8_t> Image::encodeBmp() const {
  std::vector<std::uint8_t> file(bmpFileSize(width, height));
  encodeBmpHeader(file.data());
  for (int y = 0; y < height; ++y) {
    encodeBmpRow(y, file.data() + kBmpHeaderSize + std::size_t(y) * bmpRowSize(width));
  }
  return file;
}

int Image::writeBmp(const std::string &path) const {
  const std::vector<std::uint8_t> file = encodeBmp();
  return reportBmpWrite(path, writeWholeFile(path, file.data(), file.size()));
}

int reportBmpWrite(const std::string &path, WriteResult result) {
  switch (result) {
  case WriteResult::Ok:
    return 1;
  case WriteResult::CannotOpen:
    sayLine("Could not open file for writing : " + path);
    return 0;
  case WriteResult::CannotWrite:
    sayLine("Could not write file : " + path);
    return 0;
  }
  return 0;
}
