// raytracer inputFile outputFile imageWidth imageHeight
//
// Loads the scene, renders it with one progress report per row, and writes a
// 24-bit BMP. Exit status 0 when the image was written, 1 otherwise, always
// after exactly one message from the stage that failed.

#include <new>
#include <string>

#include "app/CommandLine.h"
#include "io/Console.h"
#include "render/RayTracer.h"
#include "scene/Scene.h"

namespace {

int fail(const std::string &message) {
  sayLine(message);
  return 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc != 5) {
    return fail(std::string("Usage: ") + (argc > 0 ? argv[0] : "raytracer") +
                " inputFile outputFile imageWidth imageHeight");
  }

  int width = 0;
  int height = 0;
  const std::string sizeProblem = checkImageSize(argv[3], argv[4], width, height);
  if (!sizeProblem.empty()) {
    return fail(sizeProblem);
  }

  Scene scene;
  if (scene.load(argv[1]) != 1) {
    return 1;
  }

  const std::string noMemory = "Not enough memory for a " + std::to_string(width) + " x " +
                               std::to_string(height) + " image";
  // The raster, the shape-query structure and the encoded file are the large
  // allocations here; running out ends the run with a message, not an abort.
  try {
    const std::unique_ptr<Image> image = RayTracer().render(scene, width, height);
    if (!image) {
      return fail(noMemory);
    }
    return image->writeBmp(argv[2]) == 1 ? 0 : 1;
  } catch (const std::bad_alloc &) {
    return fail(noMemory);
  }
}
