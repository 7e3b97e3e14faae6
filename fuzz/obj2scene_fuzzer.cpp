// Feeds arbitrary bytes to the OBJ converter, with and without framing and
// with both ways of sizing. It must return either an error line or scene
// text, never crash; a converted scene must hold one triangle command per
// triangle reported.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mesh/ObjConverter.h"

namespace {

std::size_t countTriangles(const std::string &scene) {
  std::size_t count = 0;
  for (std::size_t pos = 0; (pos = scene.find("\ntriangle\n", pos)) != std::string::npos; ++pos) {
    ++count;
  }
  return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  const unsigned char first = size > 0 ? data[0] : 0;

  ConvertOptions options;
  options.size = (first & 1) != 0 ? 0.0 : 10.0;
  options.frame = (first & 2) != 0;
  options.floor = (first & 4) != 0;
  const ConvertResult result = convertObj(text, options);

  if (result.error.empty() == result.sceneText.empty()) {
    std::abort();
  }
  if (!result.error.empty() && result.error.find('\n') != std::string::npos) {
    std::abort();
  }
  const std::size_t floorTriangles = options.floor ? 2 : 0;
  if (result.error.empty() &&
      countTriangles(result.sceneText) != result.triangleCount + floorTriangles) {
    std::abort();
  }
  return 0;
}
