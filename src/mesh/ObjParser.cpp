#include "mesh/ObjParser.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

std::vector<std::string_view> splitWords(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t pos = 0;
  while (pos < line.size()) {
    while (pos < line.size() && isBlank(line[pos])) {
      ++pos;
    }
    const std::size_t start = pos;
    while (pos < line.size() && !isBlank(line[pos])) {
      ++pos;
    }
    if (pos > start) {
      words.push_back(line.substr(start, pos - start));
    }
  }
  return words;
}

// A word as it may be shown in a message: at most 40 characters, with bytes
// that a console would not print replaced by '?'.
std::string printable(std::string_view word) {
  constexpr std::size_t kShown = 40;
  std::string shown;
  for (const char c : word.substr(0, kShown)) {
    const auto byte = static_cast<unsigned char>(c);
    shown += (byte >= 0x20 && byte < 0x7f) ? c : '?';
  }
  if (word.size() > kShown) {
    shown += "...";
  }
  return shown;
}

std::string vertices(long long count) {
  return std::to_string(count) + (count == 1 ? " vertex" : " vertices");
}

std::string_view withoutPlus(std::string_view word) {
  if (!word.empty() && word[0] == '+') {
    word.remove_prefix(1);
  }
  return word;
}

// The whole word must be a finite number that a 32-bit float can hold.
bool readCoordinate(std::string_view word, double &value) {
  word = withoutPlus(word);
  const char *end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, value);
  return error == std::errc() && stop == end && std::isfinite(value) &&
         std::fabs(value) <= double(std::numeric_limits<float>::max());
}

// The whole word must be an integer; empty words are rejected.
bool readInteger(std::string_view word, long long &value) {
  word = withoutPlus(word);
  const char *end = word.data() + word.size();
  const auto [stop, error] = std::from_chars(word.data(), end, value);
  return error == std::errc() && stop == end && !word.empty();
}

class Parser {
public:
  ObjParseResult run(std::string_view text) {
    std::size_t begin = 0;
    while (begin <= text.size() && result_.error.empty()) {
      std::size_t end = text.find('\n', begin);
      if (end == std::string_view::npos) {
        end = text.size();
      }
      ++lineNumber_;
      parseLine(text.substr(begin, end - begin));
      begin = end + 1;
    }
    if (result_.error.empty()) {
      checkForwardReferences();
    }
    if (result_.error.empty() && result_.mesh.triangles.empty()) {
      result_.error = "The OBJ file has no faces (f records)";
    }
    if (!result_.error.empty()) {
      result_.mesh = {};
    }
    return std::move(result_);
  }

private:
  // A positive index beyond the vertices read so far: OBJ files may define
  // vertices after the faces that use them, so these are checked at the end.
  struct ForwardReference {
    long long index;
    long long line;
  };

  void fail(const std::string &what) {
    result_.error = "Line " + std::to_string(lineNumber_) + ": " + what;
  }

  void parseLine(std::string_view line) {
    const std::size_t comment = line.find('#');
    if (comment != std::string_view::npos) {
      line = line.substr(0, comment);
    }
    const std::vector<std::string_view> words = splitWords(line);
    if (words.empty()) {
      return;
    }
    if (words[0] == "v") {
      parseVertex(words);
    } else if (words[0] == "f") {
      parseFace(words);
    }
  }

  void parseVertex(const std::vector<std::string_view> &words) {
    if (words.size() < 4) {
      fail("vertex needs three coordinates");
      return;
    }
    // Further numbers (a weight, a vertex colour) are not used.
    double xyz[3] = {};
    for (int i = 0; i < 3; ++i) {
      if (!readCoordinate(words[std::size_t(i) + 1], xyz[i])) {
        fail("bad coordinate '" + printable(words[std::size_t(i) + 1]) +
             "' in vertex (a finite number within the range of 32-bit floats is needed)");
        return;
      }
    }
    result_.mesh.vertices.push_back({xyz[0], xyz[1], xyz[2]});
  }

  // One face corner: v, v/vt, v//vn or v/vt/vn. Returns false after failing.
  bool parseCorner(std::string_view word, std::size_t &vertex) {
    std::string_view parts[3];
    int count = 0;
    std::size_t start = 0;
    while (true) {
      const std::size_t slash = word.find('/', start);
      if (count == 3) {
        fail("bad face corner '" + printable(word) + "' (expected v, v/vt, v//vn or v/vt/vn)");
        return false;
      }
      parts[count++] = word.substr(start, slash == std::string_view::npos ? slash : slash - start);
      if (slash == std::string_view::npos) {
        break;
      }
      start = slash + 1;
    }
    long long ignored = 0;
    for (int i = 1; i < count; ++i) {
      if (!parts[i].empty() && !readInteger(parts[i], ignored)) {
        fail("bad face corner '" + printable(word) + "' (expected v, v/vt, v//vn or v/vt/vn)");
        return false;
      }
    }
    long long index = 0;
    if (!readInteger(parts[0], index)) {
      fail("bad vertex index '" + printable(word) + "' in face");
      return false;
    }
    const auto defined = static_cast<long long>(result_.mesh.vertices.size());
    if (index == 0) {
      fail("vertex index 0 in face (indices start at 1, or count back from -1)");
      return false;
    }
    if (index < 0) {
      // Counts back from the most recent vertex: -1 is the last one read.
      if (index < -defined) {
        fail("vertex index " + std::to_string(index) + " in face, but only " + vertices(defined) +
             " defined before it");
        return false;
      }
      vertex = std::size_t(defined + index);
      return true;
    }
    if (index > defined) {
      forwardReferences_.push_back({index, lineNumber_});
    }
    vertex = std::size_t(index - 1);
    return true;
  }

  void parseFace(const std::vector<std::string_view> &words) {
    if (words.size() < 4) {
      fail("face needs at least three vertices");
      return;
    }
    std::vector<std::size_t> corners(words.size() - 1);
    for (std::size_t i = 0; i < corners.size(); ++i) {
      if (!parseCorner(words[i + 1], corners[i])) {
        return;
      }
    }
    // A fan around the first corner keeps the face's winding.
    for (std::size_t i = 1; i + 1 < corners.size(); ++i) {
      result_.mesh.triangles.push_back({corners[0], corners[i], corners[i + 1]});
    }
  }

  void checkForwardReferences() {
    const auto defined = static_cast<long long>(result_.mesh.vertices.size());
    for (const ForwardReference &reference : forwardReferences_) {
      if (reference.index > defined) {
        lineNumber_ = reference.line;
        fail("face refers to vertex " + std::to_string(reference.index) +
             ", but the file defines only " + vertices(defined));
        return;
      }
    }
  }

  ObjParseResult result_;
  std::vector<ForwardReference> forwardReferences_;
  long long lineNumber_ = 0;
};

} // namespace

ObjParseResult parseObj(std::string_view text) {
  return Parser().run(text);
}
