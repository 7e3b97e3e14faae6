// The whole pipeline on arbitrary bytes: load them as a scene, render a tiny
// image and encode it as a BMP file in memory.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "render/RayTracer.h"
#include "scene/Scene.h"

namespace {

constexpr int kWidth = 4;
constexpr int kHeight = 3;
// 54-byte header, then rows of 12 bytes (4 pixels of 3 bytes, no filler).
constexpr std::size_t kFileSize = 54 + 12 * kHeight;

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  // Progress reports and error messages would drown the fuzzer's own output.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) {
    std::abort();
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Scene scene;
  if (scene.loadText(std::string(reinterpret_cast<const char *>(data), size)) != 1) {
    return 0;
  }
  RenderOptions options;
  options.threads = 1;
  const std::unique_ptr<Image> image = RayTracer().render(scene, kWidth, kHeight, options);
  if (!image) {
    std::abort();
  }
  const std::vector<std::uint8_t> file = image->encodeBmp();
  if (file.size() != kFileSize || file[0] != 'B' || file[1] != 'M') {
    std::abort();
  }
  return 0;
}
