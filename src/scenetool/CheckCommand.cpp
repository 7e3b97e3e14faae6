#include "scenetool/CheckCommand.h"

#include <new>

#include "diagnose/CheckScene.h"
#include "io/Console.h"
#include "scene/Scene.h"
#include "scenetool/PictureSize.h"

const char *const kCheckUsage = "Usage: scenetool check scene.txt [W H]";

const char *const kCheckHelp =
    "Loads the scene as the renderer does and reports every likely mistake, one line each as\n"
    "compilers do (scene.txt:LINE: reason; what to do): shapes before any material or black,\n"
    "no light, lights that light nothing in view or too little to show, triangles too small\n"
    "for the hit test, degenerate or seen from behind, camera faults, numbers beyond the float\n"
    "range, shapes outside the picture, and a black picture. Shapes and lights are judged by a\n"
    "render at W x H (default 160 x 120) with the renderer's own tracing. Writes no file.\n"
    "Exit status: 0 nothing found, 1 findings, 2 the scene could not be loaded or the\n"
    "arguments are wrong.";

int runCheck(const std::vector<std::string> &args) {
  if (args.size() != 1 && args.size() != 3) {
    return endWith(kCheckUsage, kCheckBadInput);
  }
  int width = 160;
  int height = 120;
  if (const std::string message = readPictureSize(args, 1, width, height); !message.empty()) {
    return endWith(message, kCheckBadInput);
  }
  try {
    Scene scene;
    // The loader prints its own message.
    if (scene.load(args[0]) == 0) {
      return kCheckBadInput;
    }
    std::size_t findings = 0;
    for (const std::string &line : checkScene(scene, args[0], width, height, findings)) {
      sayLine(line);
    }
    return findings == 0 ? 0 : 1;
  } catch (const std::bad_alloc &) {
    return endWith("Not enough memory to check " + args[0], kCheckBadInput);
  }
}
