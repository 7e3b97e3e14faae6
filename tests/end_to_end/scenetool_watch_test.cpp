// scenetool watch as a person uses it: in a real terminal (tmux), drawing in
// 24-bit colour, drawing again after each save, showing the loader's message
// for a broken save and going on, and stopping at Ctrl-C. Screens are read
// back with tmux; waits are for the screen to show something, never timed.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

const std::string kScene = "camera\n0 2 8\n0 1 0\n0 1 0\n40\n"
                           "directionLight\n1 1 1\n0 1 1\n"
                           "material\n0.9 0.2 0.1\n10\n0\n"
                           "sphere\n0 1 0\n1.5\n";

class Terminal {
public:
  Terminal(std::string tmux, const ScratchDirectory &dir)
      : tmux_(tmux.substr(0, tmux.find('\n'))), socket_((dir.path() / "tmux.sock").string()),
        dir_(dir.path()) {}
  ~Terminal() { run({"kill-server"}); }

  ProgramResult run(std::vector<std::string> args) const {
    args.insert(args.begin(), {"-S", socket_});
    return runProgram(tmux_, args, dir_);
  }
  // The screen with its colours as escape sequences.
  std::string screen() const { return run({"capture-pane", "-p", "-e", "-t", "w"}).out; }
  // Waits until the screen shows `text` and returns the screen; fails if it
  // never does. The limit only keeps a broken program from hanging the suite.
  std::string waitFor(const std::string &text) const {
    std::string shown;
    for (int i = 0; i < 600; ++i) {
      shown = screen();
      if (shown.find(text) != std::string::npos) {
        return shown;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ADD_FAILURE() << "the screen never showed \"" << text << "\":\n" << shown;
    return shown;
  }

private:
  std::string tmux_;
  std::string socket_;
  fs::path dir_;
};

TEST(ScenetoolWatch, RedrawsInATerminalOnEverySaveUntilCtrlC) {
  ScratchDirectory dir;
  const std::string tmux = runProgram("/bin/sh", {"-c", "command -v tmux"}, dir.path()).out;
  if (tmux.empty()) {
    GTEST_SKIP() << "tmux is not installed; watching needs a real terminal to be tested";
  }
  dir.write("s.txt", kScene);
  const Terminal terminal(tmux, dir);
  const std::string command = "env COLORTERM=truecolor " + std::string(SCENETOOL_BINARY) +
                              " watch s.txt; echo watch-ended-$?; sleep 3600";
  ASSERT_EQ(terminal.run({"new-session", "-d", "-s", "w", "-x", "100", "-y", "40", command}).status,
            0);

  // Fits 100 x 40 cells: 6 finding lines and the status line stay free.
  std::string shown = terminal.waitFor("; watching for changes (Ctrl-C to stop)");
  EXPECT_NE(shown.find("s.txt: 85 x 63 in "), std::string::npos) << shown;
  // The red ball in 24-bit colour, drawn with upper half blocks.
  EXPECT_NE(shown.find("\xe2\x96\x80"), std::string::npos) << shown;
  EXPECT_NE(shown.find("38;2;"), std::string::npos) << shown;

  // A save with a mistake: drawn again, with the finding beneath.
  dir.write("s.txt", kScene + "sphere\n3 1 0\n1\n"
                              "pointLight\n1 1 1\n0 40 0\n");
  terminal.waitFor("s.txt:19: pointLight adds less than one byte step");

  // A save that does not load: the loader's message, and watching goes on.
  dir.write("s.txt", "sphere\n0 x 0\n1\n");
  terminal.waitFor("Line 1: Bad number in sphere\ns.txt: not drawn; watching");
  dir.write("s.txt", kScene);
  shown = terminal.waitFor("s.txt: 85 x 63 in ");
  EXPECT_EQ(shown.find("Bad number"), std::string::npos) << shown;

  terminal.run({"send-keys", "-t", "w", "C-c"});
  terminal.waitFor("watch-ended-0");
}

TEST(ScenetoolWatch, OnceDrawsOneFrameWithoutColourWhereNoneIsAnnounced) {
  ScratchDirectory dir;
  dir.write("s.txt", kScene);
  const ProgramResult plain =
      runProgram(SCENETOOL_BINARY, {"watch", "s.txt", "8", "4", "--once", "--plain"}, dir.path());
  EXPECT_EQ(plain.status, 0);
  // Two lines of eight characters from the brightness ramp, then the status.
  EXPECT_EQ(plain.out.substr(0, 18), "   ..   \n        \n") << plain.out;
  EXPECT_EQ(plain.out.substr(18, 18), "s.txt: 8 x 4 in 0.") << plain.out;
  EXPECT_EQ(runProgram(SCENETOOL_BINARY, {"watch", "missing.txt", "--once"}, dir.path()),
            (ProgramResult{"Error opening input file missing.txt\nmissing.txt: not drawn\n", 1}));
#ifndef RAYTRACER_SANITIZED
  // A large picture of many colours is drawn line by line, not built as text
  // several times the raster's size first (that ran out of memory here).
  dir.write("floor.txt", "camera\n0 5 5\n0 0 0\n0 1 0\n60\npointLight\n30 20 10\n0 3 0\n"
                         "material\n1 1 1\n10\n0\ntriangle\n-50 0 -50\n-50 0 50\n50 0 50\n");
  ChildSetup limited = memoryLimit(std::size_t(48) << 20);
  limited.environment = {"COLORTERM=truecolor"};
  const ProgramResult large = runProgram(
      SCENETOOL_BINARY, {"watch", "floor.txt", "2000", "2000", "--once"}, dir.path(), limited);
  EXPECT_EQ(large.status, 0);
  EXPECT_NE(large.out.find("\x1b[0m\nfloor.txt: 2000 x 2000 in "), std::string::npos);
#endif
}

} // namespace
