#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <vector>

#include "geometry/Vec3.h"

// Splits a simple polygon, convex or concave, into corners.size() - 2
// triangles of indices into `corners`, keeping the polygon's winding. Ears are
// clipped in the plane the polygon lies in (the one across its Newell
// normal). A polygon with no ear left (self-intersecting or degenerate) has
// the rest fanned, so the count never changes.
std::vector<std::array<std::size_t, 3>> triangulatePolygon(std::span<const Vec3> corners);
