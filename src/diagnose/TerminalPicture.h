#pragma once

#include <string>

#include "image/Image.h"

enum class TerminalColours {
  TrueColour, // 24-bit colour: two pixels per character cell with half blocks
  Plain,      // no colour: one character of a brightness ramp per cell
};

// What the terminal announces through COLORTERM ("truecolor" or "24bit").
TerminalColours terminalColours();

// The picture as terminal lines, top row first, each ending in a newline:
// every character cell shows two pixels, one above the other.
std::string drawPicture(const Image &image, TerminalColours colours);
