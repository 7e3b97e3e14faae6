// Feeds arbitrary bytes to scenetool import's reading child as a mesh file,
// then places the mesh and writes its scene. The child-process boundary is
// what is checked: every input ends in either one error line, or a mesh whose
// scene text loads back with one triangle per triangle read (plus the floor's
// two), within the child's time and memory limits. A file starting with a
// control byte below 8 takes its format from that byte; others are named by
// what they start with, so the committed test meshes seed it as they are.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "QuietStdout.h"
#include "mesh/AssimpReader.h"
#include "mesh/ImportScene.h"
#include "mesh/IsolatedReader.h"
#include "mesh/Placement.h"
#include "scene/Scene.h"

namespace {

const char *extensionFor(std::string_view &bytes) {
  static const char *const chosen[] = {"obj", "ply", "stl", "glb", "off", "gltf", "obj", "ply"};
  if (!bytes.empty() && static_cast<unsigned char>(bytes[0]) < 8) {
    const char *extension = chosen[static_cast<unsigned char>(bytes[0])];
    bytes.remove_prefix(1);
    return extension;
  }
  for (const auto &[start, extension] : {std::pair{"ply", "ply"},
                                         {"solid", "stl"},
                                         {"glTF", "glb"},
                                         {"OFF", "off"},
                                         {"{", "gltf"}}) {
    if (bytes.starts_with(start)) {
      return extension;
    }
  }
  return bytes.size() >= 84 && bytes.find('\n') == std::string_view::npos ? "stl" : "obj";
}

void check(bool condition) {
  if (!condition) {
    std::abort();
  }
}

bool oneLine(const std::string &text) {
  return !text.empty() && text.find('\n') == std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char *>(data), size);
  const std::string path =
      "/tmp/import-fuzz-" + std::to_string(getpid()) + "." + extensionFor(bytes);
  std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
  const ReadOutcome read = readMeshIsolated(path, ReadLimits{2.0, 256u << 20}, readMeshWithAssimp);
  unlink(path.c_str());
  if (!read.error.empty()) {
    check(oneLine(read.error) && read.mesh.triangles.empty());
    return 0;
  }
  if (read.mesh.triangles.empty()) {
    return 0;
  }
  PlacementOptions placement;
  placement.sizeMode = size % 3 == 0 ? SizeMode::Keep : SizeMode::Automatic;
  const Placement placed = placeMesh(read.mesh, placement);
  if (!placed.error.empty()) {
    check(oneLine(placed.error));
    return 0;
  }
  SceneOptions options;
  options.frame = size % 2 == 0;
  options.floor = size % 5 < 2;
  const ImportedScene scene = writeImportedScene(read.mesh, placed, placement, options);
  if (!scene.error.empty()) {
    check(oneLine(scene.error) && scene.text.empty());
    return 0;
  }
  Scene loaded;
  check(loaded.loadText(scene.text) == 1);
  check(loaded.shapeCount() == read.mesh.triangles.size() + (options.floor ? 2 : 0));
  return 0;
}
