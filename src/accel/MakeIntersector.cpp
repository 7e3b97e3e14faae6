#include "accel/MakeIntersector.h"

#include <new>

#include "accel/ListIntersector.h"
#include "accel/bvh/BvhIntersector.h"
#include "accel/flat/FlatIntersector.h"

// Which structure runs for a scene, and why: the flat arrays test every
// shape for every ray, four at a time, with no set-up; the bvh skips most
// shapes but pays per ray for box tests and per node visited. On the
// benchmark scenes (bench/large_scenes.sh, bench/run_benchmarks.py) the two
// are even at about 8 triangles, the bvh is 1.5x faster at 32 and far ahead
// beyond, while on the 18-shape hall of mirrors the flat arrays are 2x
// faster. So: flat below 32 shapes, bvh from 32 on. The list walk is never
// chosen: it is the reference the others are tested against.
namespace {

constexpr std::size_t kBvhFromShapes = 32;

Structure chooseStructure(std::size_t shapeCount) {
  return shapeCount >= kBvhFromShapes ? Structure::Bvh : Structure::Flat;
}

} // namespace

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
