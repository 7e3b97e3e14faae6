// scenetool <command> [arguments]: companion tool for scene authors.
// Every message goes to standard output, like the renderer's; exit status 0
// on success, 1 otherwise.

#include <cstdio>
#include <string>
#include <vector>

#include "io/Console.h"
#include "io/OutputSignals.h"
#include "scenetool/CheckCommand.h"
#include "scenetool/ExplainCommand.h"
#include "scenetool/ImportCommand.h"
#include "scenetool/ScaleCommand.h"
#include "scenetool/WatchCommand.h"

#ifndef SCENETOOL_VERSION
#define SCENETOOL_VERSION "unknown"
#endif

namespace {

const char *const kUsage = "Usage: scenetool <command> [arguments] (scenetool --help lists them)";

const char *const kHelp =
    "scenetool: tools for raytracer scene files.\n"
    "  scenetool import mesh-file output.txt [options]\n"
    "      turn a mesh (OBJ, PLY, STL, glTF, GLB, OFF, Collada) into a scene\n"
    "  scenetool scale scene.txt K output.txt\n"
    "      scale a whole scene by K so that it lights the same\n"
    "  scenetool check scene.txt [W H]\n"
    "      report likely mistakes, one line each (exit 0 none, 1 some, 2 unreadable)\n"
    "  scenetool explain scene.txt W H X Y [--from-top] [--json]\n"
    "      show how the renderer computes one pixel, down to the stored bytes\n"
    "  scenetool watch scene.txt [W H] [--once] [--plain]\n"
    "      draw the scene in the terminal and again on every save\n"
    "  scenetool help <command>   the options of a command\n"
    "  scenetool --version";

int unknownCommand(const std::string &command) {
  return endWith("Unknown command '" + command + "': scenetool --help lists the commands");
}

int help(const std::string &command) {
  if (command == "import") {
    return endWith(std::string(kImportUsage) + "\n" + kImportHelp, 0);
  }
  if (command == "scale") {
    return endWith(std::string(kScaleUsage) + "\n" + kScaleHelp, 0);
  }
  if (command == "check") {
    return endWith(std::string(kCheckUsage) + "\n" + kCheckHelp, 0);
  }
  if (command == "explain") {
    return endWith(std::string(kExplainUsage) + "\n" + kExplainHelp, 0);
  }
  if (command == "watch") {
    return endWith(std::string(kWatchUsage) + "\n" + kWatchHelp, 0);
  }
  return unknownCommand(command);
}

// `status`, or `failed` when standard output could not take everything.
int printedInFull(int status, int failed) {
  const bool lost = std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
  return lost && status == 0 ? failed : status;
}

} // namespace

int main(int argc, char **argv) {
  installOutputSignalHandling();
  const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.empty()) {
    return endWith(kUsage);
  }
  const std::string &command = args[0];
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "--help" || command == "-h" || (command == "help" && rest.empty())) {
    return endWith(std::string(kUsage) + "\n" + kHelp, 0);
  }
  if (command == "--version") {
    return endWith("scenetool " SCENETOOL_VERSION, 0);
  }
  if (command == "help" && rest.size() == 1) {
    return help(rest[0]);
  }
  // "scenetool check --help" is "scenetool help check", for every command.
  if (rest.size() == 1 && (rest[0] == "--help" || rest[0] == "-h")) {
    return help(command);
  }
  if (command == "import") {
    return runImport(rest);
  }
  if (command == "scale") {
    return runScale(rest);
  }
  // For these the printed text is the product: if it could not all be
  // written (a full disk, a reader that went away), that is no success.
  if (command == "check") {
    return printedInFull(runCheck(rest), kCheckBadInput);
  }
  if (command == "explain") {
    return printedInFull(runExplain(rest), 1);
  }
  if (command == "watch") {
    return printedInFull(runWatch(rest), 1);
  }
  return unknownCommand(command);
}
