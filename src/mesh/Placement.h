#pragma once

#include <string>
#include <vector>

#include "mesh/Mesh.h"
#include "mesh/TriangleSizes.h"

// Turning, sizing and placing a mesh: one affine map computed in double from
// the corners as read, so each written coordinate is rounded once.

// A rotation applied before sizing: meshes come Y-up or Z-up.
struct Orientation {
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
};

// Z-up (when `zUp`) is turned Y-up first, then the turns about x, y and z, in
// that order, in degrees (counter-clockwise looking down the axis).
Orientation makeOrientation(bool zUp, double degreesX, double degreesY, double degreesZ);

enum class SizeMode {
  // The smallest size from 10 up at which 99% of the triangles show.
  Automatic,
  Fixed,
  // The coordinates as read (after the turns).
  Keep,
};

inline constexpr double kDefaultSize = 10.0;
inline constexpr double kLargestSize = 1e6;

struct PlacementOptions {
  Orientation orientation;
  SizeMode sizeMode = SizeMode::Automatic;
  double size = kDefaultSize;
  // Where the bottom centre of the mesh goes: the origin unless given; with
  // SizeMode::Keep the mesh stays where it is unless given.
  bool hasAt = false;
  double at[3] = {};
};

struct MeshBounds {
  double min[3] = {};
  double max[3] = {};
};

struct Placement {
  // Empty on success; otherwise one line, starting in lower case.
  std::string error;
  std::vector<Vec3> points;
  MeshBounds bounds;
  double scale = 1.0;
  // The largest extent after placing.
  double size = 0.0;
  TriangleSizes sizes;
};

Placement placeMesh(const Mesh &mesh, const PlacementOptions &options);
