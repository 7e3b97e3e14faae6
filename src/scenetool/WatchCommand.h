#pragma once

#include <string>
#include <vector>

// scenetool watch scene.txt [W H] [--once] [--plain]. Returns the exit status.
int runWatch(const std::vector<std::string> &args);

extern const char *const kWatchUsage;
extern const char *const kWatchHelp;
