#include "scenetool/WatchCommand.h"

#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <new>
#include <thread>

#include "accel/MakeIntersector.h"
#include "diagnose/CheckScene.h"
#include "diagnose/TerminalPicture.h"
#include "io/Console.h"
#include "render/RayTracer.h"
#include "scene/Scene.h"
#include "scenetool/PictureSize.h"

const char *const kWatchUsage = "Usage: scenetool watch scene.txt [W H] [--once] [--plain]";

const char *const kWatchHelp =
    "Renders the scene at a size that fits the terminal (or W x H) and draws it there, two\n"
    "pixels per character cell in 24-bit colour (when COLORTERM says truecolor or 24bit;\n"
    "otherwise, or with --plain, as characters of growing brightness), with the findings of\n"
    "scenetool check beneath. Renders again whenever the file changes, until Ctrl-C; a file\n"
    "that fails to load shows the loader's message and is watched on. --once draws one\n"
    "picture and exits (status 1 if the scene does not load).";

namespace {

// Lines kept under the picture: the status line and up to this many findings.
constexpr int kFindingLines = 6;
constexpr auto kPollInterval = std::chrono::milliseconds(100);

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
  interrupted = 1;
}

struct Options {
  std::string path;
  int width = 0; // 0: fit the terminal
  int height = 0;
  bool once = false;
  TerminalColours colours = TerminalColours::TrueColour;
};

// The terminal's columns and rows; 80 x 24 when standard output is not one.
std::pair<int, int> terminalSize() {
  winsize size{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
    return {size.ws_col, size.ws_row};
  }
  return {80, 24};
}

// A 4:3 picture that fits the terminal above the status and finding lines,
// with two pixels per character row.
std::pair<int, int> pictureSize(std::pair<int, int> terminal) {
  const int columns = std::max(terminal.first, 4);
  const int pixelRows = std::max(2 * (terminal.second - kFindingLines - 2), 2);
  const int width = std::min(columns, pixelRows * 4 / 3);
  return {std::max(width, 1), std::max(std::min(pixelRows, width * 3 / 4), 1)};
}

// Changes whenever an editor saves the file, in place or by renaming over it.
struct FileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};

  static FileStamp of(const std::string &path) {
    FileStamp stamp;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
      stamp = {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim};
    }
    return stamp;
  }
  bool operator==(const FileStamp &o) const {
    return exists == o.exists && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

// Loads, renders and draws one frame; false when the scene did not load (the
// loader has printed why).
bool drawFrame(const Options &options, std::pair<int, int> size, bool live) {
  if (live) {
    std::fputs("\x1b[H\x1b[2J", stdout);
  }
  std::fflush(stdout);
  const std::string watching = live ? "; watching for changes (Ctrl-C to stop)" : "";
  Scene scene;
  if (scene.load(options.path) == 0) {
    sayLine(options.path + ": not drawn" + watching);
    return false;
  }
  const auto started = std::chrono::steady_clock::now();
  const std::unique_ptr<Intersector> shapes =
      makeIntersector(scene, Structure::Auto, std::size_t(size.first) * std::size_t(size.second));
  const std::unique_ptr<Image> image =
      RayTracer().render(scene, size.first, size.second, *shapes, 0, false);
  if (!image) {
    sayLine("Not enough memory to draw " + options.path);
    return false;
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  drawPicture(*image, options.colours, stdout);
  char timing[64];
  std::snprintf(timing, sizeof timing, " in %.2f s", seconds);
  sayLine(options.path + ": " + std::to_string(size.first) + " x " + std::to_string(size.second) +
          timing + watching);
  std::size_t count = 0;
  const std::vector<std::string> findings =
      checkScene(scene, options.path, size.first, size.second, count);
  for (std::size_t i = 0; i < count && i < kFindingLines; ++i) {
    sayLine(findings[i]);
  }
  if (count > kFindingLines) {
    sayLine("... " + std::to_string(count - kFindingLines) + " more: scenetool check " +
            options.path);
  }
  return true;
}

int watch(const Options &options) {
  const bool fitTerminal = options.width == 0;
  auto sizeNow = [&] {
    return fitTerminal ? pictureSize(terminalSize())
                       : std::make_pair(options.width, options.height);
  };
  if (options.once) {
    return drawFrame(options, sizeNow(), false) ? 0 : 1;
  }
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  FileStamp drawnStamp = FileStamp::of(options.path);
  std::pair<int, int> drawnSize = sizeNow();
  drawFrame(options, drawnSize, true);
  while (interrupted == 0) {
    std::this_thread::sleep_for(kPollInterval);
    FileStamp stamp = FileStamp::of(options.path);
    const std::pair<int, int> size = sizeNow();
    if (stamp == drawnStamp && size == drawnSize) {
      continue;
    }
    // Let a save that is still being written finish first.
    std::this_thread::sleep_for(kPollInterval / 2);
    if (!(FileStamp::of(options.path) == stamp)) {
      continue;
    }
    drawnStamp = stamp;
    drawnSize = size;
    drawFrame(options, drawnSize, true);
  }
  std::fputs("\x1b[0m\n", stdout);
  std::fflush(stdout);
  return 0;
}

} // namespace

int runWatch(const std::vector<std::string> &args) {
  Options options;
  options.colours = terminalColours();
  std::vector<std::string> positional;
  for (const std::string &arg : args) {
    if (arg == "--once") {
      options.once = true;
    } else if (arg == "--plain") {
      options.colours = TerminalColours::Plain;
    } else if (arg.rfind("--", 0) == 0) {
      return endWith("Unknown option '" + arg + "': " + kWatchUsage);
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.size() != 1 && positional.size() != 3) {
    return endWith(kWatchUsage);
  }
  options.path = positional[0];
  if (const std::string message = readPictureSize(positional, 1, options.width, options.height);
      !message.empty()) {
    return endWith(message);
  }
  try {
    return watch(options);
  } catch (const std::bad_alloc &) {
    return endWith("Not enough memory to draw " + options.path);
  }
}
