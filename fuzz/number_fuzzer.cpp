// The scene loader promises to read numbers exactly as formatted extraction
// of a double from a standard stream does: the same value, the same failures
// and the same characters consumed. This target compares the two on
// arbitrary bytes and aborts on the first difference.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

#include "scene/SceneStream.h"

namespace {

// What the loader's stream does to its input before anything is read.
std::string withoutCarriageReturnsBeforeNewlines(const std::string &text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
      out += text[i];
    }
  }
  return out;
}

// What readLine() returns for the rest of a line: cut at a NUL, at most
// kMaxLineLength characters.
std::string asLineText(const std::string &rest) {
  std::string line = rest.substr(0, rest.find('\0'));
  return line.substr(0, SceneStream::kMaxLineLength);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);

  std::istringstream reference(withoutCarriageReturnsBeforeNewlines(text));
  double expected = 0.0;
  reference >> expected;
  const bool referenceFailed = reference.fail();

  SceneStream stream(text);
  double got = 0.0;
  const bool failed = stream.readNumber(got) != SceneStream::NumberResult::Ok;
  if (failed != referenceFailed) {
    std::abort();
  }
  if (failed) {
    return 0;
  }
  if (std::memcmp(&got, &expected, sizeof got) != 0) {
    std::abort();
  }
  std::string rest;
  std::getline(reference, rest);
  if (stream.readLine() != asLineText(rest)) {
    std::abort();
  }
  return 0;
}
