#pragma once

#include <string>
#include <vector>

#include "scene/Scene.h"

// Every likely mistake in a loaded scene as compiler-style lines
// ("file:LINE: reason; what to do"), then a summary line with the share of a
// width x height probe render that is pure black. `findingCount` receives the
// number of finding lines.
std::vector<std::string> checkScene(const Scene &scene, const std::string &file, int width,
                                    int height, std::size_t &findingCount);
