#pragma once

#include <string>

// Appends `value` in the shortest form that reads back as the same 32-bit
// float, which is what the scene loader stores.
void appendNumber(std::string &out, float value);

// Appends "x y z\n".
void appendTriple(std::string &out, float x, float y, float z);
