#pragma once

#include <cstdint>

#include "geometry/Material.h"
#include "geometry/Ray.h"

// Anything the renderer can see: a sphere or a triangle. Shapes form the
// scene's singly linked list through `next`; the scene, not the shape, owns
// the next element.
class Shape {
public:
  // Returned by intersect() when the ray misses.
  static constexpr float kMiss = -1.0f;
  // Smallest parameter that counts as a hit; keeps secondary rays from
  // hitting the surface they start on. Triangles also use it as their
  // determinant threshold.
  static constexpr float kEpsilon = 0.01f;

  // The concrete class, so that structures copying the shapes' geometry can
  // sort them without asking the type system.
  enum class Kind : std::uint8_t { Sphere, Triangle };

  Shape(Kind kind_, Shape *next_, const Material &material_)
      : kind(kind_), next(next_), material(material_) {}

  Shape(const Shape &) = delete;
  Shape &operator=(const Shape &) = delete;

  // Ray parameter of the nearest hit at or beyond kEpsilon, or kMiss.
  virtual float intersect(const Ray &ray) const = 0;
  // Unit normal at a point previously found by intersect().
  virtual Vec3 normalAt(const Vec3 &point) const = 0;

  const Kind kind;
  // Line of the scene file that declared the shape (1-based; 0 when not
  // loaded from a file). Read only by diagnostics.
  std::uint32_t sourceLine = 0;
  Shape *next;
  Material material;

protected:
  // Never deleted through a Shape pointer, and so not virtual: a sphere or a
  // triangle is then trivially destructible, and the scene's arena lets a
  // million of them go without visiting each.
  ~Shape() = default;
};
