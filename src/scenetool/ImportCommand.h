#pragma once

#include <string>
#include <vector>

// scenetool import: a mesh file into scene text. Returns the exit status.
int runImport(const std::vector<std::string> &args);

extern const char *const kImportUsage;
extern const char *const kImportHelp;
