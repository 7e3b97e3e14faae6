#include "io/WholeFile.h"

#include <filesystem>
#include <memory>
#include <system_error>

namespace {

struct CloseFile {
  void operator()(std::FILE *file) const { std::fclose(file); }
};

} // namespace

ReadResult readAll(std::FILE *file, std::string &text, std::uintmax_t maxBytes) {
  char chunk[1 << 16];
  std::size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (text.size() + got > maxBytes) {
      return ReadResult::TooLarge;
    }
    text.append(chunk, got);
  }
  return std::ferror(file) != 0 ? ReadResult::CannotRead : ReadResult::Ok;
}

ReadResult readWholeFile(const std::string &path, std::string &text, std::uintmax_t maxBytes) {
  // Closed on every way out, a bad_alloc from the buffer included.
  const std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
  if (file == nullptr) {
    return ReadResult::CannotOpen;
  }
  std::error_code noSize;
  const std::uintmax_t size = std::filesystem::file_size(path, noSize);
  if (!noSize) {
    if (size > maxBytes) {
      return ReadResult::TooLarge;
    }
    text.reserve(std::size_t(size));
  }
  return readAll(file.get(), text, maxBytes);
}

WriteResult writeWholeFile(const std::string &path, const void *data, std::size_t size) {
  OutputFile file(path);
  file.open(size);
  file.write(data, size);
  return file.commit();
}
