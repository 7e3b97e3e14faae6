// The whole pipeline on arbitrary bytes: load them as a scene, render a tiny
// image (at most 4 x 3) and encode it as a BMP file in memory.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "QuietStdout.h"
#include "accel/MakeIntersector.h"
#include "render/RayTracer.h"
#include "scene/Scene.h"

namespace {

// Sizes from 1 x 1 to 4 x 3, chosen by the input's length so that the single
// row and single column cases are met without a special input format.
int widthFor(std::size_t inputSize) {
  return 1 + int(inputSize % 4);
}
int heightFor(std::size_t inputSize) {
  return 1 + int(inputSize / 4 % 3);
}

// 54-byte header, then rows of 3 bytes per pixel padded to a multiple of 4.
std::size_t bmpSize(int width, int height) {
  return 54 + (std::size_t(width) * 3 + 3) / 4 * 4 * std::size_t(height);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  Scene scene;
  if (scene.loadText(std::string(reinterpret_cast<const char *>(data), size)) != 1) {
    return 0;
  }
  const int width = widthFor(size);
  const int height = heightFor(size);
  const std::unique_ptr<Image> image =
      RayTracer().render(scene, width, height, *makeIntersector(scene.shapes), 1);
  if (!image) {
    std::abort();
  }
  const std::vector<std::uint8_t> file = image->encodeBmp();
  if (file.size() != bmpSize(width, height) || file[0] != 'B' || file[1] != 'M') {
    std::abort();
  }
  return 0;
}
