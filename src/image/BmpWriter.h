#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/Image.h"
#include "io/OutputFile.h"

// Writes an image as a BMP file a few rows at a time from the raster, so the
// file never needs a second full-size copy of the picture. Made and opened
// before the render, so that everything the write needs is in hand before
// the first row is rendered.
class BmpWriter {
public:
  // Allocates the buffer of rows (64 KiB, or one row when rows are larger);
  // throws std::bad_alloc when it cannot.
  BmpWriter(std::string path, int width, int height);

  // Creates the temporary output file with the file's whole size reserved.
  // CannotWrite (no space, a file-size limit) is worth reporting before the
  // render; CannotOpen is reported by write(), after the render, where that
  // message has always come.
  WriteResult open();
  // Writes the image (of the size given above) and puts the file in place;
  // 1 on success, 0 after printing the message.
  int write(const Image &image);

private:
  OutputFile file_;
  std::uint64_t size_;
  std::vector<std::uint8_t> rows_; // the header and a chunk of rows
};
