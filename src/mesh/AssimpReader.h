#pragma once

#include <string>

// Reads the mesh file at `path` with Assimp and returns the reply for the
// parent (see MeshWire.h): the triangles of every mesh instance in the scene
// graph, each node's transform applied, or the reason there are none. Runs
// inside the isolated child: the library may crash, hang or exhaust memory
// on hostile files.
std::string readMeshWithAssimp(const std::string &path);
