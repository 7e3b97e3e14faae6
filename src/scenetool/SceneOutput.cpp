#include "scenetool/SceneOutput.h"

#include <cstdio>

#include "io/Console.h"
#include "io/WholeFile.h"

int writeSceneOutput(const std::string &path, const std::string &text) {
  if (path == "-") {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
  }
  if (writeWholeFile(path, text.data(), text.size()) != WriteResult::Ok) {
    return endWith("Error writing output file " + path);
  }
  return 0;
}
