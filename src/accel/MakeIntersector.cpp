#include "accel/MakeIntersector.h"

#include <new>

#include "accel/ListIntersector.h"
#include "accel/bvh/BvhIntersector.h"
#include "accel/flat/FlatIntersector.h"

// Which structure runs for a scene, and why: the flat arrays test every
// shape for every ray, four at a time, with no set-up; the bvh skips most
// shapes but pays per ray for box tests and per node visited. A triangle
// costs the flat arrays more than a sphere and gains more from the bvh, so
// the choice weighs shapes by kind. One thread, building included:
// - spheres on a two-triangle floor (spheres64 and grids like it): the flat
//   arrays are 1.3x faster at 64 spheres, the bvh 1.06x faster at 100 and
//   2x at 256;
// - a terrain of small triangles (bench/gen_mesh.py): the bvh is 1.15x to
//   1.4x faster at 32 triangles and 1.5x at 50;
// - the 18-shape hall of mirrors: the flat arrays are 2x faster.
// So a sphere weighs 1 and a triangle 3, and the bvh runs from a weight of
// 80 on. The list walk is never chosen: it is the reference the others are
// tested against.
namespace {

constexpr std::size_t kSphereWeight = 1;
constexpr std::size_t kTriangleWeight = 3;
constexpr std::size_t kBvhFromWeight = 80;

// Stops counting once the bvh is certain.
Structure chooseStructure(const Shape *shapes) {
  std::size_t weight = 0;
  for (const Shape *shape = shapes; shape != nullptr; shape = shape->next) {
    weight += shape->kind == Shape::Kind::Sphere ? kSphereWeight : kTriangleWeight;
    if (weight >= kBvhFromWeight) {
      return Structure::Bvh;
    }
  }
  return Structure::Flat;
}

std::unique_ptr<Intersector> make(const Shape *shapes, Structure structure, const Scene *scene,
                                  std::size_t pixels) {
  if (structure == Structure::Auto) {
    structure = chooseStructure(shapes);
  }
  try {
    switch (structure) {
    case Structure::Bvh: {
      BvhOptions options;
      if (scene != nullptr) {
        for (const PointLight *light = scene->pointLights; light != nullptr; light = light->next) {
          options.pointLights.push_back(light->position);
        }
        for (const DirectionLight *light = scene->directionLights; light != nullptr;
             light = light->next) {
          options.directionLights.push_back(light->direction);
        }
        options.eye = scene->eye;
        options.eyeBuffer = true;
        options.pixels = pixels;
      }
      return std::make_unique<BvhIntersector>(shapes, options);
    }
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

} // namespace

std::unique_ptr<Intersector> makeIntersector(const Shape *shapes, Structure structure) {
  return make(shapes, structure, nullptr, 0);
}

std::unique_ptr<Intersector> makeIntersector(const Scene &scene, Structure structure,
                                             std::size_t pixels) {
  return make(scene.shapes, structure, &scene, pixels);
}
