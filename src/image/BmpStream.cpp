#include "image/BmpStream.h"

#include <algorithm>

BmpStream::BmpStream(std::string path, int width, int height)
    : file_(std::move(path)), width_(width), height_(height),
      row_(std::max(Image::bmpRowSize(width), Image::kBmpHeaderSize)) {}

WriteResult BmpStream::open() {
  return file_.open(Image::bmpFileSize(width_, height_));
}

void BmpStream::writeRow(const Image &image, int row) {
  if (file_.state() != WriteResult::Ok) {
    return;
  }
  if (row == 0) {
    image.encodeBmpHeader(row_.data());
    file_.write(row_.data(), Image::kBmpHeaderSize);
  }
  image.encodeBmpRow(row, row_.data());
  file_.write(row_.data(), Image::bmpRowSize(width_));
}

int BmpStream::finish() {
  return reportBmpWrite(file_.path(), file_.commit());
}
