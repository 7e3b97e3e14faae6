#pragma once

#include <cstdio>

#include "image/Image.h"

enum class TerminalColours {
  TrueColour, // 24-bit colour: two pixels per character cell with half blocks
  Plain,      // no colour: one character of a brightness ramp per cell
};

// What the terminal announces through COLORTERM ("truecolor" or "24bit").
TerminalColours terminalColours();

// Writes the picture to `out` as terminal lines, top row first, each ending
// in a newline: every character cell shows two pixels, one above the other.
void drawPicture(const Image &image, TerminalColours colours, std::FILE *out);
