#pragma once

#include <cstddef>
#include <typeinfo>

#include "geometry/Sphere.h"
#include "geometry/Triangle.h"

// The structures that copy the shapes' geometry (the flat arrays and the
// hierarchy) run the sphere and triangle arithmetic with this epsilon, the
// one every shape is made with.
inline constexpr float kShapeEpsilon = 0.01f;

// Hands each shape of the list starting at `shapes`, in list order and with its position in the
// list (0 for the head), to onSphere, onTriangle or onOther. The others are
// shapes of another class or with another epsilon: a structure that copies
// geometry must ask those through Shape::intersect.
template <typename OnSphere, typename OnTriangle, typename OnOther>
void forEachShapeByKind(const Shape *shapes, OnSphere onSphere, OnTriangle onTriangle,
                        OnOther onOther) {
  std::size_t position = 0;
  for (const Shape *shape = shapes; shape != nullptr; shape = shape->next, ++position) {
    // The shape classes are final, so comparing the exact type is enough.
    const bool copyable = shape->epsilon == kShapeEpsilon;
    if (copyable && typeid(*shape) == typeid(Sphere)) {
      onSphere(static_cast<const Sphere &>(*shape), position);
    } else if (copyable && typeid(*shape) == typeid(Triangle)) {
      onTriangle(static_cast<const Triangle &>(*shape), position);
    } else {
      onOther(*shape, position);
    }
  }
}
