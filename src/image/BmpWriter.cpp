#include "image/BmpWriter.h"

#include <algorithm>

namespace {

// Rows are written a few at a time: one write call per row cost a system
// call per row, a measurable share of a small render.
constexpr std::size_t kChunkBytes = 64 * 1024;

} // namespace

BmpWriter::BmpWriter(std::string path, int width, int height)
    : file_(std::move(path)), size_(Image::bmpFileSize(width, height)),
      rows_(Image::kBmpHeaderSize +
            std::max(Image::bmpRowSize(width),
                     kChunkBytes / Image::bmpRowSize(width) * Image::bmpRowSize(width))) {}

WriteResult BmpWriter::open() {
  return file_.open(size_);
}

int BmpWriter::write(const Image &image) {
  // The header goes out with the first rows.
  image.encodeBmpHeader(rows_.data());
  std::size_t filled = Image::kBmpHeaderSize;
  const std::size_t rowSize = Image::bmpRowSize(image.width);
  for (int y = 0; y < image.height && file_.state() == WriteResult::Ok; ++y) {
    if (filled + rowSize > rows_.size()) {
      file_.write(rows_.data(), filled);
      filled = 0;
    }
    image.encodeBmpRow(y, rows_.data() + filled);
    filled += rowSize;
  }
  if (file_.state() == WriteResult::Ok) {
    file_.write(rows_.data(), filled);
  }
  return reportBmpWrite(file_.path(), file_.commit());
}
