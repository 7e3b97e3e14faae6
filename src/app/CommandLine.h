#pragma once

#include <optional>
#include <string>

// Reads an image size argument the way atoi does (optional leading white
// space and sign, then digits up to the first other character; no digits
// reads as 0), but reports a value beyond the 32-bit range instead of
// wrapping. Returns nothing when out of range.
std::optional<long long> parseSizeArgument(const std::string &text);

// Checks the image size arguments. Returns an empty string when both are
// usable, otherwise the one-line message (without newline) that explains why
// not: sizes below 1, beyond the 32-bit range, or a raster or BMP file too
// large for 32-bit sizes.
std::string checkImageSize(const std::string &widthText, const std::string &heightText, int &width,
                           int &height);
