#pragma once

#include <string>
#include <vector>

// A scene example of the guide: a code block without a language tag.
// Fragments say so on their first line ("# Fragment: ...").
struct GuideExample {
  std::string text;
  bool complete = true;
};

std::vector<GuideExample> guideExamples();
