#include "guide_examples.h"

#include <filesystem>
#include <sstream>

#include "run_program.h"

std::vector<GuideExample> guideExamples() {
  std::istringstream guide(readFile(std::filesystem::path(DOCS_DIR) / "scene-format.md"));
  std::vector<GuideExample> examples;
  bool inBlock = false;
  bool isExample = false;
  std::string block;
  for (std::string line; std::getline(guide, line);) {
    if (line.rfind("```", 0) != 0) {
      block += inBlock ? line + "\n" : "";
      continue;
    }
    if (inBlock && isExample) {
      examples.push_back({block, block.rfind("# Fragment:", 0) != 0});
    }
    isExample = !inBlock && line == "```";
    inBlock = !inBlock;
    block.clear();
  }
  return examples;
}
