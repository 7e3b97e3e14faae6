#pragma once

// Seeded generators of awkward scenes and rays for comparing the ways of
// answering shape queries and of rendering. Coordinates often fall on a coarse
// grid so that equal ray parameters, edge hits and grazing rays actually
// occur; shapes coincide, degenerate, reach infinity or surround the camera.

#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "accel/Intersector.h"
#include "accel/flat/FlatIntersector.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"

// Sanitized builds run about ten times slower: the randomised comparisons do
// a quarter of their work there.
#ifndef WORK_DIVISOR
#define WORK_DIVISOR 1
#endif

class RandomScene {
public:
  explicit RandomScene(std::uint64_t seed) : engine_(seed) {}

  float unit() { return float(engine_() >> 40) * 0x1p-24f; }
  bool chance(float probability) { return unit() < probability; }
  int whole(int low, int high) { return low + int(engine_() % std::uint64_t(high - low + 1)); }
  // Uniform in [low, high); half of the time rounded down to a multiple of a
  // power of two of about a sixteenth of the range.
  float number(float low, float high);
  // Magnitudes spread evenly over the orders between low and high.
  float logUniform(float low, float high);
  Vec3 point(float low, float high) {
    return {number(low, high), number(low, high), number(low, high)};
  }
  Vec3 inCube(const Vec3 &centre, float half) { return add(centre, point(-half, half)); }
  // Components in [-1, 1); axis-aligned components are common in real rays.
  Vec3 direction();
  Material material();

  // A scene to render: a camera (often with a tilted up vector, sometimes
  // inside a sphere), both kinds of light and up to 30 shapes near the origin.
  void fill(Scene &scene);
  // `count` spheres and triangles in the cube of half-size `spread` around
  // `centre`, sized log-uniformly in [minSize, maxSize], some sharing an edge,
  // some degenerate, some repeated. With `odd`, also negative radii, repeats
  // in the other winding or with the opposite radius, a mesh with repeated
  // triangles and non-finite shapes.
  void scatter(Scene &scene, const Vec3 &centre, float spread, float minSize, float maxSize,
               int count, bool odd);
  // An n x n grid of triangle pairs sharing edges.
  void addMesh(Scene &scene, const Vec3 &corner, float cell, int n);
  // A bumpy ball of 4 rings^2 triangles sharing edges: normals in every
  // direction, neighbours alike, so every light sees a silhouette.
  static void addBall(Scene &scene, const Vec3 &centre, float radius, int rings);
  // A vertex, a point on an edge or inside a triangle, or a point on a sphere.
  Vec3 pointOn(const Shape &shape);
  // A point `far` from the triangle's first vertex along a random direction
  // in its plane, then `far * off` along its unit normal: where a light sees
  // the triangle edge-on (off = 0) or nearly so.
  Vec3 offPlaneOf(const Triangle &triangle, float far, float off);

  // A ray of one of many kinds: from `camera`; aimed at a shape's vertex, edge
  // or surface from up to `spread` away; grazing a triangle's plane or a
  // sphere; starting on a surface; the tracer's own reflection and shadow rays
  // (`shapes` is the scene's list, `reference` answers for it); very short or
  // long; or with an infinite, NaN, huge, tiny or zero component.
  Ray ray(const std::vector<const Shape *> &shapes, const Intersector &reference,
          const Vec3 &camera, float spread);

private:
  void addOddShapes(Scene &scene, const Vec3 &centre);

  std::mt19937_64 engine_;
};

// The scene's shapes in list order.
std::vector<const Shape *> shapeList(const Scene &scene);

// The flat levels this processor runs, with their names.
std::vector<std::pair<SimdLevel, std::string>> flatLevels();
