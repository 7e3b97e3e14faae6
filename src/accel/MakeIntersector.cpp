#include "accel/MakeIntersector.h"

#include <new>

#include "accel/ListIntersector.h"
#include "accel/bvh/BvhIntersector.h"
#include "accel/flat/FlatIntersector.h"

// Which structure runs for a scene, and why: the flat arrays test every
// shape of every ray, four at a time, with no set-up; the bvh skips most
// shapes but pays per ray for its box tests and per node visited. Measured
// on the benchmark scenes (bench/), the bvh wins from about 32 shapes on;
// below that the flat arrays do. The list walk is never chosen: it is the
// reference the others are tested against.
Structure chooseStructure(std::size_t shapeCount) {
  return shapeCount >= kBvhFromShapes ? Structure::Bvh : Structure::Flat;
}

std::unique_ptr<Intersector> makeIntersector(const Shape *shapes, Structure structure) {
  if (structure == Structure::Auto) {
    std::size_t count = 0;
    for (const Shape *shape = shapes; shape != nullptr && count < kBvhFromShapes;
         shape = shape->next) {
      ++count;
    }
    structure = chooseStructure(count);
  }
  try {
    switch (structure) {
    case Structure::Bvh:
      return std::make_unique<BvhIntersector>(shapes);
    case Structure::Flat:
      return std::make_unique<FlatIntersector>(shapes);
    case Structure::List:
    case Structure::Auto:
      break;
    }
  } catch (const std::bad_alloc &) {
  }
  return std::make_unique<ListIntersector>(shapes);
}
