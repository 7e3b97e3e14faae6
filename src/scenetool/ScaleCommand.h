#pragma once

#include <string>
#include <vector>

// scenetool scale scene.txt K output.txt. Returns the exit status.
int runScale(const std::vector<std::string> &args);

extern const char *const kScaleUsage;
extern const char *const kScaleHelp;
