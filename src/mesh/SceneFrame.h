#pragma once

#include <string>

// Axis-aligned bounds of the converted mesh, in scene units.
struct MeshBounds {
  double min[3] = {};
  double max[3] = {};
};

// A camera looking at the mesh from the front, above and to the right, far
// enough back that the whole mesh fits the vertical field of view, with an
// ambient light and two direction lights. Scene-file text.
std::string framingText(const MeshBounds &bounds);

// A large square floor just below the mesh, wound so its normal points up.
std::string floorText(const MeshBounds &bounds);
