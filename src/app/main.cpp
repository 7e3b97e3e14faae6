// raytracer inputFile outputFile imageWidth imageHeight
//
// Loads the scene, renders it with one progress report per row, and writes a
// 24-bit BMP. Exit status 0 when the image was written, 1 otherwise, always
// after exactly one message from the stage that failed. The output is
// prepared before the render (its temporary file, disk space and memory),
// written row by row from the raster after it, and put in place of the old
// file at the end.

#include <algorithm>
#include <cstddef>
#include <new>
#include <string>

#include "accel/HelperThreads.h"
#include "app/AllocatorTuning.h"
#include "app/CommandLine.h"
#include "app/HeapWarmUp.h"
#include "image/BmpWriter.h"
#include "io/Console.h"
#include "io/OutputFile.h"
#include "io/OutputSignals.h"
#include "render/RayTracer.h"
#include "render/UsableCpus.h"
#include "scene/Scene.h"

int main(int argc, char **argv) {
  installOutputSignalHandling();
  tuneAllocator();
  if (argc != 5) {
    return endWith(std::string("Usage: ") + (argc > 0 ? argv[0] : "raytracer") +
                   " inputFile outputFile imageWidth imageHeight");
  }

  int width = 0;
  int height = 0;
  const std::string sizeProblem = checkImageSize(argv[3], argv[4], width, height);
  if (!sizeProblem.empty()) {
    return endWith(sizeProblem);
  }

  const std::string sameFile = outputIsInputProblem(argv[1], argv[2]);
  if (!sameFile.empty()) {
    return endWith(sameFile);
  }

  // Helpers started now have been spread over the processors by the time the
  // scene is loaded.
  const int cpus = std::max(usableCpuCount(), 1);
  helpers::start(std::size_t(cpus - 1));

  Scene scene;
  int loaded = 0;
  {
    // Helper 0 faults in heap pages while this thread reads the scene (on
    // a processor of its own only); it is free again for the build.
    HeapWarmUp warmUp(argv[1], cpus > 1);
    loaded = scene.load(argv[1]);
  }
  if (loaded != 1) {
    return 1;
  }

  const std::string noMemory = "Not enough memory for a " + std::to_string(width) + " x " +
                               std::to_string(height) + " image";
  // The raster and the shape-query structure are the large allocations, both
  // made before the first row; running out ends the run with a message, not
  // an abort.
  try {
    BmpWriter output(argv[2], width, height);
    // An output that cannot be opened is reported after the render, where
    // that message has always come; one that has no room is not worth
    // rendering for.
    if (output.open() == WriteResult::CannotWrite) {
      reportBmpWrite(argv[2], WriteResult::CannotWrite);
      return 1;
    }
    const std::unique_ptr<Image> image = RayTracer().render(scene, width, height);
    if (!image) {
      return endWith(noMemory);
    }
    return output.write(*image) == 1 ? 0 : 1;
  } catch (const std::bad_alloc &) {
    return endWith(noMemory);
  }
}
