#pragma once

#include <cstddef>
#include <memory>

#include "accel/Intersector.h"
#include "scene/Scene.h"

// The structures that can answer the shape queries. All give the same
// answers; only the time differs.
enum class Structure {
  List, // the literal walk over the shape list (the reference)
  Flat, // flat SIMD arrays of spheres and triangles in list order
  Bvh,  // a bounding volume hierarchy
  Auto, // flat or bvh by shape count (MakeIntersector.cpp says which and why)
};

// The structure of the given kind over the shape list starting at `shapes`.
// The flat arrays and the bvh copy the shapes' geometry; when the copies do
// not fit in memory the list walk answers instead, with the same results.
// The shapes must outlive the structure.
std::unique_ptr<Intersector> makeIntersector(const Shape *shapes,
                                             Structure structure = Structure::Auto);

// The same for a scene's shapes; the bvh also answers shadow rays towards the
// scene's lights, and rays from its eye, faster, when the image has enough
// `pixels` for the buffers that needs to pay for themselves.
std::unique_ptr<Intersector> makeIntersector(const Scene &scene, Structure structure,
                                             std::size_t pixels);
