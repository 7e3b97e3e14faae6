// What happens to an existing output when a write fails, the process is
// signalled, standard output goes away, the output is the input, a link or
// another writer's target. A preloaded library breaks the programs' own file
// calls (write, close, fsync, rename) one at a time; in every case the old
// file is either intact or replaced by the complete new one, and no
// temporary file is left.

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>
#include <set>
#include <thread>

#include "run_program.h"

namespace fs = std::filesystem;

namespace {

const std::string kScene =
    "ambientLight\n0.2 0.2 0.2\nmaterial\n1 0.5 0\n0\n0\nsphere\n0 0 -10\n4\n";
const std::string kMesh = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nf 1 2 3 4\n";

// One of the two programs, with an input of its own; the output is "out".
struct Program {
  std::string binary;
  std::string input;
  std::string inputText;
  std::vector<std::string> args;
  std::string progress; // what it prints before a message about the output
  std::string success;  // the rest of its output on success
  std::string message;  // before "out\n" when the output could not be written
};

const std::string kProgress = "25%     \r50%     \r75%     \r100%     \r";

std::vector<Program> programs() {
  return {{RAYTRACER_BINARY,
           "scene.txt",
           kScene,
           {"scene.txt", "out", "8", "4"},
           kProgress,
           "",
           "Could not write file : "},
          {SCENETOOL_BINARY,
           "mesh.obj",
           kMesh,
           {"import", "mesh.obj", "out", "--size", "10"},
           "",
           "Wrote 2 triangles to out\n",
           "Error writing output file "}};
}

// The environment that preloads the fault library (after the sanitizer
// runtime, which must come first), with the given settings.
std::vector<std::string> faults(std::vector<std::string> settings) {
  std::string preload = FAULT_LIBRARY;
#ifdef SANITIZER_RUNTIME
  preload = std::string(SANITIZER_RUNTIME) + ":" + preload;
#endif
  settings.push_back("LD_PRELOAD=" + preload);
  return settings;
}

std::set<std::string> names(const fs::path &dir) {
  std::set<std::string> found;
  for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
    found.insert(entry.path().filename().string());
  }
  return found;
}

// A directory with the program's input and an old output, and the bytes a
// successful run writes.
struct OldOutput {
  explicit OldOutput(const Program &program) : program(program) {
    dir.write(program.input, program.inputText);
    EXPECT_EQ(run({}).status, 0);
    expected = readFile(dir.path() / "out");
    dir.write("out", "old");
  }
  ProgramResult run(const ChildSetup &setup) const {
    return runProgram(program.binary, program.args, dir.path(), setup);
  }
  // The old output is there, and nothing else beside it.
  bool kept() const {
    return readFile(dir.path() / "out") == "old" &&
           names(dir.path()) == std::set<std::string>{program.input, "out"};
  }
  // The run either succeeded completely or failed with the message and kept
  // the old output; then the old output is put back.
  testing::AssertionResult wholeOrOld(const ProgramResult &result) const {
    const std::string out = readFile(dir.path() / "out");
    const bool whole = result.status == 0 && result.out == program.progress + program.success &&
                       out == expected && names(dir.path()).size() == 2;
    const bool old =
        result.status == 1 && result.out == program.progress + program.message + "out\n" && kept();
    dir.write("out", "old");
    if (!whole && !old) {
      return testing::AssertionFailure()
             << "status " << result.status << ", printed \"" << result.out << "\", output of "
             << out.size() << " bytes, " << names(dir.path()).size() << " files";
    }
    return testing::AssertionSuccess();
  }

  const Program &program;
  ScratchDirectory dir;
  std::string expected;
};

TEST(OutputSafety, EveryFailedFileCallLeavesTheOldOutputAndNoTemporaryFile) {
  for (const Program &program : programs()) {
    OldOutput setup(program);
    for (const std::string call : {"write", "close", "fsync", "rename"}) {
      int failures = 0;
      // Break the first, second, ... such call until the run makes no more.
      for (int at = 1; at < 50; ++at) {
        const fs::path marker = setup.dir.path() / ".struck";
        ChildSetup child;
        child.environment = faults({"FAULT_CALL=" + call, "FAULT_AT=" + std::to_string(at),
                                    "FAULT_ERRNO=" + std::to_string(at % 2 ? ENOSPC : EIO),
                                    "FAULT_MARKER=" + marker.string()});
        const ProgramResult result = setup.run(child);
        const bool struck = fs::remove(marker);
        EXPECT_TRUE(setup.wholeOrOld(result)) << program.binary << " " << call << " " << at;
        failures += result.status == 1;
        if (!struck) {
          break;
        }
      }
      EXPECT_GT(failures, 0) << program.binary << " never failed at " << call;
    }
    // A file-size limit (standard output is a file too): the space is
    // reserved before any work is done.
    ChildSetup limited;
    limited.fileSizeBytes = 100; // above the messages, below the outputs
    EXPECT_EQ(setup.run(limited), (ProgramResult{program.message + "out\n", 1}));
    EXPECT_TRUE(setup.kept());
  }
}

TEST(OutputSafety, SignalDuringTheWriteLeavesTheOldOutput) {
  for (const Program &program : programs()) {
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
      for (const std::string call : {"write", "fsync", "rename"}) {
        OldOutput setup(program);
        const fs::path marker = setup.dir.path() / ".stalled";
        ChildSetup child;
        child.environment = faults({"FAULT_CALL=" + call, "FAULT_AT=1", "FAULT_STALL=1",
                                    "FAULT_MARKER=" + marker.string()});
        const int pid = startProgram(program.binary, program.args, setup.dir.path(), child);
        // The program waits inside the call until it is signalled.
        for (int wait = 0; wait < 3000 && !fs::exists(marker); ++wait) {
          std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!fs::exists(marker)) {
          kill(pid, SIGKILL);
          finishProgram(pid, setup.dir.path());
          FAIL() << program.binary << " never reached " << call;
        }
        EXPECT_EQ(names(setup.dir.path()).size(), 5u) << "input, old, stdout, marker, temporary";
        kill(pid, signal);
        const ProgramResult result = finishProgram(pid, setup.dir.path());
        EXPECT_EQ(result.signal, signal) << program.binary << " " << call;
        fs::remove(marker);
        EXPECT_TRUE(setup.kept()) << program.binary << " " << call;
      }
    }
  }
}

TEST(OutputSafety, MemoryForTheWriteIsTakenBeforeTheRender) {
#ifdef RAYTRACER_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reserves more address space than the limit allows";
#endif
  OldOutput setup(programs()[0]);
  // In 80 MiB a 4000 x 4000 raster (48 MB) fits once but not twice: the
  // image is written without a second copy.
  ProgramResult result = runProgram(RAYTRACER_BINARY, {"scene.txt", "big.bmp", "4000", "4000"},
                                    setup.dir.path(), memoryLimit(80u << 20));
  EXPECT_EQ(result.status, 0);
  EXPECT_EQ(fs::file_size(setup.dir.path() / "big.bmp"), 54u + 12000u * 4000u);
  fs::remove(setup.dir.path() / "big.bmp");
  // An 8000 x 8000 raster does not fit: refused before the first row.
  EXPECT_EQ(runProgram(RAYTRACER_BINARY, {"scene.txt", "out", "8000", "8000"}, setup.dir.path(),
                       memoryLimit(80u << 20)),
            (ProgramResult{"Not enough memory for a 8000 x 8000 image\n", 1}));
  EXPECT_TRUE(setup.kept());
}

TEST(OutputSafety, OutputThatIsTheInputIsRefusedAndBothAreKept) {
  ScratchDirectory dir;
  dir.write("scene.txt", kScene);
  dir.write("mesh.obj", kMesh);
  fs::create_symlink("scene.txt", dir.path() / "link.txt");
  fs::create_hard_link(dir.path() / "scene.txt", dir.path() / "hard.txt");
  for (const std::string output : {"scene.txt", "link.txt", "hard.txt"}) {
    EXPECT_EQ(runProgram(RAYTRACER_BINARY, {"scene.txt", output, "2", "2"}, dir.path()),
              (ProgramResult{"The output file " + output + " is the input file scene.txt\n", 1}));
  }
  EXPECT_EQ(runProgram(SCENETOOL_BINARY, {"import", "mesh.obj", "mesh.obj"}, dir.path()),
            (ProgramResult{"The output file mesh.obj is the input file mesh.obj\n", 1}));
  EXPECT_EQ(readFile(dir.path() / "scene.txt"), kScene);
  EXPECT_EQ(readFile(dir.path() / "mesh.obj"), kMesh);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "link.txt"));
}

TEST(OutputSafety, SymlinkedOutputAndClosedStandardOutputStillGetTheWholeOutput) {
  for (const Program &program : programs()) {
    OldOutput setup(program);
    const fs::path pictures = setup.dir.path() / "pictures";
    fs::create_directory(pictures);
    fs::rename(setup.dir.path() / "out", pictures / "target");
    fs::create_symlink("pictures/target", setup.dir.path() / "out");
    ChildSetup failing;
    failing.environment = faults({"FAULT_CALL=fsync", "FAULT_AT=1"});
    EXPECT_EQ(setup.run(failing).status, 1);
    EXPECT_EQ(readFile(pictures / "target"), "old");
    // Nobody reads the progress reports or messages.
    ChildSetup unread;
    unread.closedStdout = true;
    EXPECT_EQ(setup.run(unread).status, 0);
    EXPECT_TRUE(fs::is_symlink(setup.dir.path() / "out"));
    EXPECT_EQ(readFile(pictures / "target"), setup.expected);
    EXPECT_EQ(names(pictures), std::set<std::string>{"target"});
  }
}

TEST(OutputSafety, TwoWritersOfOneOutputAlwaysLeaveOneWholeImage) {
  ScratchDirectory shared;
  ScratchDirectory writers[2];
  std::mt19937 random(11);
  for (int round = 0; round < 8; ++round) {
    std::string images[2];
    int pids[2];
    for (int i = 0; i < 2; ++i) {
      writers[i].write("scene.txt", kScene);
      const std::string width = std::to_string(1 + random() % 40);
      const std::string height = std::to_string(1 + random() % 40);
      runProgram(RAYTRACER_BINARY, {"scene.txt", "own.bmp", width, height}, writers[i].path());
      images[i] = readFile(writers[i].path() / "own.bmp");
      // Row writes are delayed by different amounts, so the writers interleave.
      ChildSetup child;
      child.environment = faults({"FAULT_DELAY_US=" + std::to_string(random() % 3000)});
      pids[i] = startProgram(RAYTRACER_BINARY,
                             {"scene.txt", (shared.path() / "out.bmp").string(), width, height},
                             writers[i].path(), child);
    }
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(finishProgram(pids[i], writers[i].path()).status, 0);
    }
    const std::string result = readFile(shared.path() / "out.bmp");
    EXPECT_TRUE(result == images[1] || result == images[0]) << "round " << round;
    EXPECT_EQ(names(shared.path()), std::set<std::string>{"out.bmp"});
  }
}

} // namespace
