#include "mesh/ImportScene.h"

#include <cstdio>

#include "mesh/SceneFrame.h"
#include "mesh/SceneText.h"

namespace {

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

std::vector<std::string> notesFor(const Mesh &mesh, const Placement &placed,
                                  const PlacementOptions &placement) {
  std::vector<std::string> notes;
  const std::size_t count = mesh.triangles.size();
  if (placement.sizeMode == SizeMode::Automatic && placed.size > kDefaultSize) {
    notes.push_back("Size " + formatDouble(placed.size) + " chosen so that 99% of the " +
                    "triangles are large enough to show (--size N chooses another)");
  }
  // Up to 1% of small triangles is what the size rule accepts.
  if (placed.sizes.growthFor99Percent > 1.0) {
    std::string note = "Warning: " + std::to_string(placed.sizes.small) + " of " +
                       countOf(count, "triangle") +
                       " are too small to show reliably (|edge1 x edge2| below " +
                       formatDouble(kSmallTriangleCross) + ")";
    if (placed.size < kLargestSize) {
      note += "; --size " +
              formatDouble(roundUpTwoDigits(placed.size * placed.sizes.growthFor99Percent)) +
              " would make 99% of the triangles large enough";
    }
    notes.push_back(note);
  }
  if (placed.sizes.degenerate > 0) {
    notes.push_back("Warning: " + std::to_string(placed.sizes.degenerate) + " of " +
                    countOf(count, "triangle") + " have no area and can never be seen");
  }
  if (mesh.skippedPoints + mesh.skippedLines > 0) {
    notes.push_back("Skipped " + countOf(mesh.skippedPoints, "point") + " and " +
                    countOf(mesh.skippedLines, "line") + ": a scene shows only triangles");
  }
  return notes;
}

} // namespace

std::string countOf(std::uint64_t count, const std::string &noun) {
  return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

ImportedScene writeImportedScene(const Mesh &mesh, const Placement &placed,
                                 const PlacementOptions &placement, const SceneOptions &options) {
  ImportedScene scene;
  scene.notes = notesFor(mesh, placed, placement);

  SceneText out;
  out.reserve(400 + mesh.triangles.size() * 90);
  out.text("# Imported by scenetool from " + oneLine(options.sourceName) + ": " +
           countOf(mesh.triangles.size(), "triangle") + ".\n");
  if (placement.sizeMode == SizeMode::Keep) {
    out.text(placement.hasAt
                 ? "# Coordinates as in the file, moved so the bottom centre is at " +
                       formatDouble(placement.at[0]) + " " + formatDouble(placement.at[1]) + " " +
                       formatDouble(placement.at[2]) + ".\n"
                 : "# Coordinates as in the file.\n");
  } else {
    out.text("# Scaled by " + formatDouble(placed.scale) + " to a largest extent of " +
             formatDouble(placed.size) + " units, bottom centre at " +
             formatDouble(placement.at[0]) + " " + formatDouble(placement.at[1]) + " " +
             formatDouble(placement.at[2]) + ".\n");
  }
  for (const std::string &note : scene.notes) {
    out.text("# " + note + "\n");
  }
  out.text("\n");
  if (options.frame) {
    appendFraming(out, placed.points, mesh, placed.bounds);
  }
  if (options.floor) {
    appendFloor(out, placed.bounds);
  }
  const MeshMaterial &m = options.material;
  out.text("# Mesh material: colour, specular exponent, reflectivity.\nmaterial\n");
  out.triple(m.color[0], m.color[1], m.color[2]);
  out.number(m.exponent);
  out.text("\n");
  out.number(m.reflectivity);
  out.text("\n");
  for (const auto &t : mesh.triangles) {
    out.text("triangle\n");
    for (const std::uint32_t i : t) {
      const Vec3 &p = placed.points[i];
      out.triple(p.x, p.y, p.z);
    }
  }
  if (!out.finite()) {
    scene.notes.clear();
    scene.error = "the scene would contain a number beyond the range of 32-bit floats; "
                  "nothing written (choose a smaller --size or --at)";
    return scene;
  }
  scene.text = out.release();
  return scene;
}
