#include "mesh/ObjConverter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "mesh/ObjParser.h"
#include "mesh/SceneFrame.h"
#include "mesh/SceneText.h"

namespace {

struct Point {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
};

// |edge1 x edge2| as the renderer forms the edges: float differences.
double crossLength(const Point &a, const Point &b, const Point &c) {
  const float e1[3] = {b.x - a.x, b.y - a.y, b.z - a.z};
  const float e2[3] = {c.x - a.x, c.y - a.y, c.z - a.z};
  const double x = double(e1[1]) * e2[2] - double(e1[2]) * e2[1];
  const double y = double(e1[2]) * e2[0] - double(e1[0]) * e2[2];
  const double z = double(e1[0]) * e2[1] - double(e1[1]) * e2[0];
  return std::sqrt(x * x + y * y + z * z);
}

// Rounds up to two significant digits, so a suggestion reads "40", not "38.27".
// Float rounding of the vertices must not turn 2 into 2.1.
double roundUpTwoDigits(double value) {
  const double unit = std::pow(10.0, std::floor(std::log10(value)) - 1.0);
  return std::ceil(value / unit * (1.0 - 1e-6)) * unit;
}

std::string formatDouble(double value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6g", value);
  return buffer;
}

// The source name goes into a comment line, so it must stay on one line.
std::string oneLine(const std::string &text) {
  std::string line = text;
  for (char &c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      c = '?';
    }
  }
  return line;
}

struct SizeCheck {
  std::size_t degenerate = 0;
  std::size_t small = 0;
  // How much the mesh would have to grow for 99% of its triangles to be
  // large enough; 1 when they already are.
  double growthFor99Percent = 1.0;
};

SizeCheck checkSizes(const std::vector<Point> &points, const ObjMesh &mesh) {
  SizeCheck check;
  std::vector<double> growth;
  growth.reserve(mesh.triangles.size());
  for (const auto &t : mesh.triangles) {
    const double cross = crossLength(points[t[0]], points[t[1]], points[t[2]]);
    if (cross == 0.0) {
      ++check.degenerate;
      continue;
    }
    if (cross < kSmallTriangleCross) {
      ++check.small;
      // The cross product grows with the square of the scale.
      growth.push_back(std::sqrt(kSmallTriangleCross / cross));
    } else {
      growth.push_back(1.0);
    }
  }
  if (!growth.empty()) {
    const auto at = growth.begin() + std::ptrdiff_t(double(growth.size() - 1) * 0.99);
    std::nth_element(growth.begin(), at, growth.end());
    check.growthFor99Percent = *at;
  }
  return check;
}

} // namespace

ConvertResult convertObj(std::string_view objText, const ConvertOptions &options) {
  ConvertResult result;
  ObjParseResult parsed = parseObj(objText);
  if (!parsed.error.empty()) {
    result.error = parsed.error;
    return result;
  }
  const ObjMesh &mesh = parsed.mesh;

  // Bounds of the vertices that faces use; others do not matter.
  std::vector<bool> used(mesh.vertices.size(), false);
  for (const auto &t : mesh.triangles) {
    used[t[0]] = used[t[1]] = used[t[2]] = true;
  }
  MeshBounds source;
  std::fill(std::begin(source.min), std::end(source.min), std::numeric_limits<double>::infinity());
  std::fill(std::begin(source.max), std::end(source.max), -std::numeric_limits<double>::infinity());
  for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
    if (!used[i]) {
      continue;
    }
    const double v[3] = {mesh.vertices[i].x, mesh.vertices[i].y, mesh.vertices[i].z};
    for (int axis = 0; axis < 3; ++axis) {
      source.min[axis] = std::min(source.min[axis], v[axis]);
      source.max[axis] = std::max(source.max[axis], v[axis]);
    }
  }
  double extent = 0.0;
  double middle[3] = {};
  for (int axis = 0; axis < 3; ++axis) {
    extent = std::max(extent, source.max[axis] - source.min[axis]);
    middle[axis] = 0.5 * (source.min[axis] + source.max[axis]);
  }

  const bool rescale = options.size > 0.0;
  double scale = 1.0;
  if (rescale) {
    scale = options.size / extent;
    if (extent == 0.0 || !std::isfinite(scale)) {
      result.error = "The faces have no size to scale: all their vertices are at one point";
      return result;
    }
  } else {
    std::fill(std::begin(middle), std::end(middle), 0.0);
  }

  std::vector<Point> points(mesh.vertices.size());
  MeshBounds bounds = source;
  for (int axis = 0; axis < 3; ++axis) {
    bounds.min[axis] = (source.min[axis] - middle[axis]) * scale;
    bounds.max[axis] = (source.max[axis] - middle[axis]) * scale;
  }
  for (std::size_t i = 0; i < mesh.vertices.size(); ++i) {
    if (!used[i]) {
      continue;
    }
    const ObjPoint &v = mesh.vertices[i];
    points[i] = {float((v.x - middle[0]) * scale), float((v.y - middle[1]) * scale),
                 float((v.z - middle[2]) * scale)};
    if (!std::isfinite(points[i].x) || !std::isfinite(points[i].y) || !std::isfinite(points[i].z)) {
      result.error = "The scaled mesh does not fit in 32-bit floats; choose a smaller --size";
      return result;
    }
  }

  const std::size_t count = mesh.triangles.size();
  const SizeCheck check = checkSizes(points, mesh);
  if (check.small > 0) {
    std::string warning = "Warning: " + std::to_string(check.small) + " of " +
                          std::to_string(count) +
                          " triangles are too small to show reliably (|edge1 x edge2| below " +
                          formatDouble(kSmallTriangleCross) + ")";
    if (check.growthFor99Percent > 1.0) {
      const double current = rescale ? options.size : extent;
      warning += "; --size " + formatDouble(roundUpTwoDigits(current * check.growthFor99Percent)) +
                 " would make 99% of the triangles large enough";
    }
    result.warnings.push_back(warning);
  }
  if (check.degenerate > 0) {
    result.warnings.push_back("Warning: " + std::to_string(check.degenerate) + " of " +
                              std::to_string(count) +
                              " triangles have no area and can never be seen");
  }

  std::string &out = result.sceneText;
  out.reserve(200 + count * 80);
  out += "# Converted by obj2scene from " + oneLine(options.sourceName) + ": " +
         std::to_string(mesh.vertices.size()) + " vertices, " + std::to_string(count) +
         " triangles.\n";
  if (rescale) {
    out += "# Centred on the origin and scaled by " + formatDouble(scale) +
           ", so the largest extent is " + formatDouble(options.size) + " units.\n";
  } else {
    out += "# Coordinates as in the OBJ file.\n";
  }
  for (const std::string &warning : result.warnings) {
    out += "# " + warning + "\n";
  }
  out += '\n';
  if (options.frame) {
    out += framingText(bounds);
  }
  if (options.floor) {
    out += floorText(bounds);
  }
  out += "# Mesh material: colour, specular exponent, reflectivity.\n"
         "material\n0.8 0.75 0.7\n30\n0.1\n";
  for (const auto &t : mesh.triangles) {
    out += "triangle\n";
    for (const std::size_t index : t) {
      appendTriple(out, points[index].x, points[index].y, points[index].z);
    }
  }
  result.triangleCount = count;
  result.scale = scale;
  return result;
}
