#pragma once

#include <string>
#include <vector>

// scenetool check scene.txt [W H]. Returns the exit status: 0 when nothing
// was found, 1 with findings, 2 when the scene cannot be loaded or the
// arguments are wrong.
int runCheck(const std::vector<std::string> &args);

// check's status when it could not do its job: a scene that does not load,
// wrong arguments, or a report that could not be printed.
constexpr int kCheckBadInput = 2;

extern const char *const kCheckUsage;
extern const char *const kCheckHelp;
