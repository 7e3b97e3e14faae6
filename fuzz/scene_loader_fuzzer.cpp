// Feeds arbitrary bytes to the scene loader as the contents of a scene file.
// Whatever arrives, loading must end with 1 or 0 without reading or writing
// out of bounds.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "QuietStdout.h"
#include "scene/Scene.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Scene scene;
  const int status = scene.loadText(std::string(reinterpret_cast<const char *>(data), size));
  if (status != 0 && status != 1) {
    std::abort();
  }
  return 0;
}
