#include "image/Image.h"

#include <new>

#include "io/Console.h"
#include "io/WholeFile.h"

namespace {

constexpr std::size_t kHeaderSize = 54;
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

std::vector<std::uint8_t> Image::encodeBmp() const {
  const std::size_t rowSize = (std::size_t(width) * 3 + 3) / 4 * 4;
  const std::size_t fileSize = kHeaderSize + rowSize * std::size_t(height);
  std::vector<std::uint8_t> file(fileSize, 0);

  std::uint8_t *h = file.data();
  h[0] = 'B';
  h[1] = 'M';
  putLittleEndian(h + 2, std::uint32_t(fileSize), 4);
  putLittleEndian(h + 10, kHeaderSize, 4);
  putLittleEndian(h + 14, kInfoHeaderSize, 4);
  putLittleEndian(h + 18, std::uint32_t(width), 4);
  // Positive height: rows are stored bottom-up.
  putLittleEndian(h + 22, std::uint32_t(height), 4);
  putLittleEndian(h + 26, 1, 2);
  putLittleEndian(h + 28, 24, 2);
  // Compression, image size, resolutions and palette counts stay 0.

  for (std::size_t y = 0; y < std::size_t(height); ++y) {
    const std::uint8_t *src = pixels.get() + y * std::size_t(width) * 3;
    std::uint8_t *dst = file.data() + kHeaderSize + y * rowSize;
    for (std::size_t x = 0; x < std::size_t(width); ++x) {
      dst[3 * x + 0] = src[3 * x + 2];
      dst[3 * x + 1] = src[3 * x + 1];
      dst[3 * x + 2] = src[3 * x + 0];
    }
  }
  return file;
}

int Image::writeBmp(const std::string &path) const {
  const std::vector<std::uint8_t> file = encodeBmp();
  switch (writeWholeFile(path, file.data(), file.size())) {
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
