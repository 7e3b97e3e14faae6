#pragma once

#include <string>
#include <vector>

// scenetool explain scene.txt W H X Y [--from-top] [--json]. Returns the exit
// status.
int runExplain(const std::vector<std::string> &args);

extern const char *const kExplainUsage;
extern const char *const kExplainHelp;
