#include "diagnose/TerminalPicture.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>

namespace {

// Upper half block: the foreground colour paints the upper pixel, the
// background colour the lower one.
constexpr std::string_view kUpperHalf = "\xe2\x96\x80";
// Darkest to brightest.
constexpr std::string_view kRamp = " .:-=+*#%@";

const std::uint8_t *pixelAt(const Image &image, int x, int y) {
  return image.pixels.get() + (std::size_t(y) * std::size_t(image.width) + std::size_t(x)) * 3;
}

std::string rgb(const std::uint8_t *p) {
  return std::to_string(p[0]) + ";" + std::to_string(p[1]) + ";" + std::to_string(p[2]);
}

int brightness(const std::uint8_t *p) {
  return (299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000;
}

} // namespace

TerminalColours terminalColours() {
  const char *announced = std::getenv("COLORTERM");
  const std::string_view value = announced != nullptr ? announced : "";
  return value == "truecolor" || value == "24bit" ? TerminalColours::TrueColour
                                                  : TerminalColours::Plain;
}

void drawPicture(const Image &image, TerminalColours colours, std::FILE *out) {
  const auto put = [out](std::string_view text) { std::fwrite(text.data(), 1, text.size(), out); };
  // Image rows run bottom-up; the terminal draws top-down. Cells go straight
  // to the stream, so however wide the picture, no copy of it is made as text.
  for (int upper = image.height - 1; upper >= 0; upper -= 2) {
    const int lower = upper - 1;
    std::string previous;
    for (int x = 0; x < image.width; ++x) {
      const std::uint8_t *top = pixelAt(image, x, upper);
      const std::uint8_t *bottom = lower >= 0 ? pixelAt(image, x, lower) : nullptr;
      if (colours == TerminalColours::Plain) {
        const int level =
            bottom != nullptr ? (brightness(top) + brightness(bottom)) / 2 : brightness(top);
        std::fputc(kRamp[std::size_t(level) * kRamp.size() / 256], out);
        continue;
      }
      // A cell with no lower pixel keeps the terminal's own background.
      std::string code = "\x1b[38;2;" + rgb(top) + "m";
      code += bottom != nullptr ? "\x1b[48;2;" + rgb(bottom) + "m" : "\x1b[49m";
      if (code != previous) {
        put(code);
        previous = std::move(code);
      }
      put(kUpperHalf);
    }
    put(colours == TerminalColours::TrueColour ? "\x1b[0m\n" : "\n");
  }
}
