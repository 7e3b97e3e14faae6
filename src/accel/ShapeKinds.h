#pragma once

#include <cstddef>

#include "geometry/Sphere.h"
#include "geometry/Triangle.h"

// Hands each shape of the list starting at `shapes`, in list order and with
// its position in the list (0 for the head), to onSphere or onTriangle.
template <typename OnSphere, typename OnTriangle>
void forEachShapeByKind(const Shape *shapes, OnSphere onSphere, OnTriangle onTriangle) {
  std::size_t position = 0;
  for (const Shape *shape = shapes; shape != nullptr; shape = shape->next, ++position) {
    switch (shape->kind) {
    case Shape::Kind::Sphere:
      onSphere(static_cast<const Sphere &>(*shape), position);
      break;
    case Shape::Kind::Triangle:
      onTriangle(static_cast<const Triangle &>(*shape), position);
      break;
    }
  }
}
