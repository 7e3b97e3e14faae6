#pragma once

#include <string>
#include <vector>

// Reads optional W H arguments at `args[first]` with the renderer's own rules
// and messages; the defaults stay when there are none. Returns the message
// for sizes the renderer would refuse, or an empty string.
std::string readPictureSize(const std::vector<std::string> &args, std::size_t first, int &width,
                            int &height);
