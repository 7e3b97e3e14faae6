#include "scenetool/PictureSize.h"

#include "app/CommandLine.h"

std::string readPictureSize(const std::vector<std::string> &args, std::size_t first, int &width,
                            int &height) {
  if (args.size() < first + 2) {
    return "";
  }
  return checkImageSize(args[first], args[first + 1], width, height);
}
