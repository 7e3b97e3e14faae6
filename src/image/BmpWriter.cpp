#include "image/BmpWriter.h"

#include <algorithm>

BmpWriter::BmpWriter(std::string path, int width, int height)
    : file_(std::move(path)), size_(Image::bmpFileSize(width, height)),
      row_(std::max(Image::bmpRowSize(width), Image::kBmpHeaderSize)) {}

WriteResult BmpWriter::open() {
  return file_.open(size_);
}

int BmpWriter::write(const Image &image) {
  image.encodeBmpHeader(row_.data());
  file_.write(row_.data(), Image::kBmpHeaderSize);
  for (int y = 0; y < image.height && file_.state() == WriteResult::Ok; ++y) {
    image.encodeBmpRow(y, row_.data());
    file_.write(row_.data(), Image::bmpRowSize(image.width));
  }
  return reportBmpWrite(file_.path(), file_.commit());
}
