#pragma once

#include <string>
#include <vector>

#include "mesh/Mesh.h"
#include "mesh/Placement.h"

struct MeshMaterial {
  float color[3] = {0.8f, 0.75f, 0.7f};
  float exponent = 30.0f;
  float reflectivity = 0.1f;
};

struct SceneOptions {
  bool frame = false;
  bool floor = false;
  MeshMaterial material;
  // Shown in the header comment.
  std::string sourceName;
};

struct ImportedScene {
  // Empty on success; otherwise one line, starting in lower case, and
  // nothing else is set.
  std::string error;
  // One line each, also written into the text as comments.
  std::vector<std::string> notes;
  std::string text;
};

// The scene text for a placed mesh: a comment header, the optional camera,
// lights and floor, the material and one `triangle` command per triangle.
ImportedScene writeImportedScene(const Mesh &mesh, const Placement &placed,
                                 const PlacementOptions &placement, const SceneOptions &options);

// "1 triangle", "2 triangles".
std::string countOf(std::uint64_t count, const std::string &noun);
