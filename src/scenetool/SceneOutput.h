#pragma once

#include <string>

// Writes finished scene text to `path` ("-" is standard output) and returns
// the exit status, printing "Error writing output file <path>" on failure.
int writeSceneOutput(const std::string &path, const std::string &text);
