#include "scene/Scene.h"

#include "geometry/Sphere.h"
#include "geometry/Triangle.h"

namespace {

template <typename Node> void releaseList(Node *head) {
  // Iterative, so that a list of millions of shapes cannot exhaust the stack.
  while (head != nullptr) {
    Node *next = head->next;
    delete head;
    head = next;
  }
}

} // namespace

Scene::~Scene() {
  releaseList(pointLights);
  releaseList(directionLights);
  // The shapes go with their arena.
}

void Scene::setCamera(const Vec3 &eyePoint, const Vec3 &lookAt, const Vec3 &upVector,
                      float fovDegrees) {
  eye = eyePoint;
  forward = sub(lookAt, eyePoint);
  normalize(forward);
  up = upVector;
  normalize(up);
  right = cross(forward, up);
  fov = fovDegrees;
}

void Scene::addPointLight(const Vec3 &color, const Vec3 &position) {
  pointLights = new PointLight(pointLights, color, position);
}

void Scene::addDirectionLight(const Vec3 &color, const Vec3 &direction) {
  directionLights = new DirectionLight(directionLights, color, direction);
}

void Scene::addSphere(const Material &material, const Vec3 &center, float radius) {
  shapes = shapeArena_.make<Sphere>(shapes, material, center.x, center.y, center.z, radius);
}

void Scene::addTriangle(const Material &material, const Vec3 &v0, const Vec3 &v1, const Vec3 &v2) {
  shapes = shapeArena_.make<Triangle>(shapes, material, v0.x, v0.y, v0.z, v1.x, v1.y, v1.z, v2.x,
                                      v2.y, v2.z);
}

std::size_t Scene::shapeCount() const {
  std::size_t count = 0;
  for (const Shape *shape = shapes; shape != nullptr; shape = shape->next) {
    ++count;
  }
  return count;
}
