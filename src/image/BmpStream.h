#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "image/Image.h"
#include "io/OutputFile.h"

// Writes a BMP file row by row while a render finishes the rows, bottom row
// first, so the file never needs a second full-size copy of the picture. Made
// before the render: it holds everything the write needs.
class BmpStream {
public:
  // Allocates the row buffer; throws std::bad_alloc when it cannot.
  BmpStream(std::string path, int width, int height);

  // Creates the temporary output file with the file's whole size reserved.
  // CannotWrite (no space, a file-size limit) is worth reporting before the
  // render; CannotOpen is reported by finish(), after the render, as always.
  WriteResult open();
  // Writes the header with row 0 and each later row in turn; after a failure
  // nothing more is written.
  void writeRow(const Image &image, int row);
  // Puts the file in place; 1 on success, 0 after printing the message.
  int finish();

private:
  OutputFile file_;
  int width_;
  int height_;
  std::vector<std::uint8_t> row_;
};
