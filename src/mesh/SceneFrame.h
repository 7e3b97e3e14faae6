#pragma once

#include "mesh/Mesh.h"
#include "mesh/Placement.h"
#include "mesh/SceneText.h"

// A camera looking at the mesh from the front, a little from the right and
// from above, with its up vector square to the view, placed so that every
// corner lies inside the middle 80% of the picture's height (and of its
// width, for pictures at least as wide as they are tall); an ambient light
// and two direction lights.
void appendFraming(SceneText &out, const std::vector<Vec3> &points, const Mesh &mesh,
                   const MeshBounds &bounds);

// A large square floor just below the mesh, wound so its normal points up.
void appendFloor(SceneText &out, const MeshBounds &bounds);
