// Input from a pipe or a device has no size to check beforehand: reading
// stops as soon as the text would pass the limit, so an endless device cannot
// take all memory. (A regular file beyond the limit is refused before it is
// read: see the end-to-end tests.)

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "io/WholeFile.h"

namespace {

struct CloseFile {
  void operator()(std::FILE *file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

// Less than a pipe holds, so it can be written before it is read.
const std::string kPiped(50000, 'x');

ReadResult readThroughPipe(std::uintmax_t limit, std::string &text) {
  int ends[2];
  EXPECT_EQ(pipe(ends), 0);
  EXPECT_EQ(write(ends[1], kPiped.data(), kPiped.size()), ssize_t(kPiped.size()));
  close(ends[1]);
  const File reader(fdopen(ends[0], "rb"));
  return readAll(reader.get(), text, limit);
}

// Stopping short of the end shows an endless device would stop too.
TEST(ReadAll, PipeInputStopsAtTheLimit) {
  std::string text;
  EXPECT_EQ(readThroughPipe(kPiped.size(), text), ReadResult::Ok);
  EXPECT_EQ(text, kPiped);
  text.clear();
  EXPECT_EQ(readThroughPipe(kPiped.size() - 1, text), ReadResult::TooLarge);
  EXPECT_LT(text.size(), kPiped.size());
}

} // namespace
