#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/OutputFile.h"

// An RGB raster of 8-bit values. Row 0 is the bottom row of the picture,
// which is also the order a bottom-up BMP file stores its rows in.
class Image {
public:
  // Allocates width * height * 3 bytes, left uninitialised. If the memory
  // cannot be had, the image has no pixels (see valid()).
  Image(int width_, int height_);

  bool valid() const { return pixels != nullptr; }

  // Stores a colour given in [0, 1]: each channel times 255, truncated; NaN
  // is stored as 0. Coordinates are the caller's to keep in range.
  void setPixel(int x, int y, float r, float g, float b) {
    std::uint8_t *p = pixels.get() + (std::size_t(y) * std::size_t(width) + std::size_t(x)) * 3;
    p[0] = toByte(r);
    p[1] = toByte(g);
    p[2] = toByte(b);
  }

  // The whole BMP file: a 54-byte header, then rows bottom-up, each pixel
  // as blue, green, red, each row padded with zeros to a multiple of 4 bytes.
  std::vector<std::uint8_t> encodeBmp() const;
  // The parts of that file: its size, its header and one stored row
  // (rowSize bytes, padding included) written to `out`.
  static std::size_t bmpRowSize(int width) { return (std::size_t(width) * 3 + 3) / 4 * 4; }
  static std::size_t bmpFileSize(int width, int height) {
    return kBmpHeaderSize + bmpRowSize(width) * std::size_t(height);
  }
  void encodeBmpHeader(std::uint8_t *out) const;
  void encodeBmpRow(int y, std::uint8_t *out) const;
  static constexpr std::size_t kBmpHeaderSize = 54;

  // Writes encodeBmp() to `path`; 1 on success, 0 after printing a one-line
  // message. On failure an existing file at `path` is left as it was.
  int writeBmp(const std::string &path) const;

  const int width;
  const int height;
  std::unique_ptr<std::uint8_t[]> pixels;

  // The stored byte of a colour channel given in [0, 1].
  static std::uint8_t toByte(float value) {
    // NaN fails the first comparison; values above 1 cannot reach the
    // conversion, whose result would not fit a byte.
    if (!(value >= 0.0f)) {
      return 0;
    }
    return value >= 1.0f ? 255 : std::uint8_t(int(double(value) * 255.0));
  }
};

// Prints the BMP writer's message for a failed write of `path` ("Could not
// open file for writing : ", "Could not write file : "); 1 for Ok, else 0.
int reportBmpWrite(const std::string &path, WriteResult result);
