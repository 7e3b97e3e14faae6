#include "random_scene.h"

#include <cmath>
#include <limits>
#include <numbers>

#include "geometry/Sphere.h"
#include "geometry/Triangle.h"

namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// The same geometry again at the head of the list: only list order tells the
// copies apart. With `opposite`, a sphere comes back with the opposite radius
// and a triangle in both windings.
void repeat(Scene &scene, const Shape &shape, const Material &material, bool opposite) {
  if (const auto *s = dynamic_cast<const Sphere *>(&shape)) {
    scene.addSphere(material, s->center, opposite ? -s->radius : s->radius);
  } else if (const auto *t = dynamic_cast<const Triangle *>(&shape)) {
    scene.addTriangle(material, t->vertex0, t->vertex1, t->vertex2);
    if (opposite) {
      scene.addTriangle(material, t->vertex0, t->vertex2, t->vertex1);
    }
  }
}

} // namespace

std::vector<const Shape *> shapeList(const Scene &scene) {
  std::vector<const Shape *> shapes;
  for (const Shape *s = scene.shapes; s != nullptr; s = s->next) {
    shapes.push_back(s);
  }
  return shapes;
}

std::vector<std::pair<SimdLevel, std::string>> flatLevels() {
  std::vector<std::pair<SimdLevel, std::string>> levels = {{SimdLevel::Scalar, "flat scalar"},
                                                           {SimdLevel::Sse2, "flat SSE2"},
                                                           {SimdLevel::Avx2, "flat AVX2"}};
  std::erase_if(levels, [](const auto &level) { return level.first > supportedSimdLevel(); });
  return levels;
}

float RandomScene::number(float low, float high) {
  const float value = low + (high - low) * unit();
  const float step = std::exp2(std::floor(std::log2((high - low) / 16)));
  return chance(0.5f) ? std::floor(value / step) * step : value;
}

float RandomScene::logUniform(float low, float high) {
  return std::exp(std::log(low) + (std::log(high) - std::log(low)) * unit());
}

Vec3 RandomScene::direction() {
  const Vec3 d{2 * unit() - 1, 2 * unit() - 1, 2 * unit() - 1};
  const bool flatX = chance(0.1f);
  return {flatX ? 0.0f : d.x, chance(0.1f) ? 0.0f : d.y, d.z};
}

Material RandomScene::material() {
  Material m;
  m.color = {unit(), unit(), unit()};
  m.exponent = float(whole(0, 60));
  m.reflectivity = chance(0.4f) ? number(0.2f, 1.0f) : 0.0f;
  return m;
}

void RandomScene::fill(Scene &scene) {
  const Vec3 eye = point(-6, 6);
  Vec3 up = chance(0.5f) ? Vec3(0, 1, 0) : point(-1, 1); // often not perpendicular
  if (up.x == 0.0f && up.y == 0.0f && up.z == 0.0f) {
    up = {0, 1, 0};
  }
  const Vec3 at = point(-3, 3);
  scene.setCamera(eye, at, up, number(15, 80));
  scene.ambient = {unit() * 0.3f, unit() * 0.3f, unit() * 0.3f};
  for (int i = whole(0, 2); i > 0; --i) {
    const Vec3 colour{unit(), unit(), unit()};
    scene.addDirectionLight(colour, point(-1, 1));
  }
  for (int i = whole(0, 2); i > 0; --i) {
    const Vec3 colour = point(0, 40);
    scene.addPointLight(colour, point(-8, 8));
  }
  if (chance(0.2f)) {
    const Material m = material();
    scene.addSphere(m, eye, number(0.5f, 3));
  }
  scatter(scene, {0, 0, 0}, 5, 0.1f, 5, whole(0, 30), false);
}

void RandomScene::scatter(Scene &scene, const Vec3 &centre, float spread, float minSize,
                          float maxSize, int count, bool odd) {
  const Triangle *last = nullptr;
  for (int i = 0; i < count; ++i) {
    const Material m = material();
    const Vec3 at = inCube(centre, spread);
    const float size = logUniform(minSize, maxSize);
    if (chance(0.4f)) {
      scene.addSphere(m, at, odd && chance(0.2f) ? -size : size);
    } else if (last != nullptr && chance(0.3f)) {
      scene.addTriangle(m, last->vertex1, last->vertex0, at); // shares an edge
    } else {
      const Vec3 v1 = chance(0.05f) ? at : inCube(at, size);
      const Vec3 v2 = chance(0.05f) ? add(at, scale(sub(v1, at), 2.0f)) : inCube(at, size);
      scene.addTriangle(m, at, v1, v2);
      last = static_cast<const Triangle *>(scene.shapes);
    }
    if (chance(0.15f)) {
      const Material m2 = material();
      repeat(scene, *scene.shapes, m2, odd && chance(0.7f));
    }
  }
  if (odd) {
    addMesh(scene, inCube(centre, spread), maxSize, 3);
    const std::vector<const Shape *> mesh = shapeList(scene);
    for (std::size_t i = 0; i < 6; ++i) { // ties on shared edges between copies
      repeat(scene, *mesh[i], Material(), true);
    }
    addOddShapes(scene, centre);
  }
}

// Shapes no ordinary scene has: infinite and NaN coordinates, vertices at
// 1e30, a triangle shrunk to a point, a sphere around the origin and a huge
// floor.
void RandomScene::addOddShapes(Scene &scene, const Vec3 &centre) {
  const Material m;
  if (chance(0.3f)) {
    scene.addSphere(m, centre, kInf); // blocks every shadow ray
  }
  scene.addSphere(m, {kNaN, 0, 0}, 1.0f);
  scene.addTriangle(m, centre, {kInf, 0, 0}, {0, 1, 0});
  scene.addTriangle(m, {1e30f, 0, 0}, {0, 1e30f, 0}, {0, 0, 1e30f});
  scene.addTriangle(m, centre, centre, centre);
  scene.addSphere(m, {0, 0, 0}, logUniform(1.0f, 100.0f));
  const float f = 1e4f;
  scene.addTriangle(m, {centre.x - f, centre.y - 1, centre.z - f},
                    {centre.x + f, centre.y - 1, centre.z - f},
                    {centre.x, centre.y - 1, centre.z + f});
}

void RandomScene::addMesh(Scene &scene, const Vec3 &corner, float cell, int n) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const Vec3 a(corner.x + cell * float(i), corner.y, corner.z + cell * float(j));
      const Vec3 b(a.x + cell, a.y, a.z);
      const Vec3 c(a.x, a.y, a.z + cell);
      const Vec3 d(a.x + cell, a.y + 0.3f * cell, a.z + cell);
      scene.addTriangle(Material(), a, b, d);
      scene.addTriangle(Material(), a, d, c);
    }
  }
}

void RandomScene::addBall(Scene &scene, const Vec3 &centre, float radius, int rings) {
  const auto at = [&](int ring, int segment) {
    const double theta = std::numbers::pi * ring / rings;
    const double phi = std::numbers::pi * segment / rings;
    const double r = radius * (1.0 + 0.05 * std::sin(7 * theta) * std::cos(5 * phi));
    return add(centre, Vec3(float(r * std::sin(theta) * std::cos(phi)), float(r * std::cos(theta)),
                            float(r * std::sin(theta) * std::sin(phi))));
  };
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < 2 * rings; ++j) {
      scene.addTriangle(Material(), at(i, j), at(i + 1, j), at(i + 1, j + 1));
      scene.addTriangle(Material(), at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  }
}

Vec3 RandomScene::offPlaneOf(const Triangle &triangle, float far, float off) {
  const float u = unit();
  Vec3 along = add(scale(triangle.edge1, u), scale(triangle.edge2, unit()));
  normalize(along);
  return add(triangle.vertex0, add(scale(along, far), scale(triangle.unitNormal(), far * off)));
}

Vec3 RandomScene::pointOn(const Shape &shape) {
  if (const auto *t = dynamic_cast<const Triangle *>(&shape)) {
    float u = unit();
    float v = unit();
    switch (whole(0, 3)) {
    case 0:
      return chance(0.5f) ? t->vertex1 : t->vertex2;
    case 1:
      v = 1.0f - u;
      break;
    case 2:
      v = 0.0f;
      break;
    default:
      if (u + v > 1.0f) {
        u = 1.0f - u;
        v = 1.0f - v;
      }
    }
    return add(t->vertex0, add(scale(t->edge1, u), scale(t->edge2, v)));
  }
  const auto &s = static_cast<const Sphere &>(shape);
  Vec3 d = direction();
  normalize(d);
  return chance(0.2f) ? s.center : add(s.center, scale(d, s.radius));
}

Ray RandomScene::ray(const std::vector<const Shape *> &shapes, const Intersector &reference,
                     const Vec3 &camera, float spread) {
  if (shapes.empty()) {
    return Ray(camera, direction());
  }
  const Shape &target = *shapes[std::size_t(whole(0, int(shapes.size()) - 1))];
  const Vec3 aim = pointOn(target);
  switch (whole(0, 7)) {
  case 0:
    return Ray(camera, direction());
  case 1: {
    const Vec3 from = inCube(aim, spread);
    return Ray(from, sub(aim, from));
  }
  case 2: { // grazing
    Vec3 d;
    if (const auto *t = dynamic_cast<const Triangle *>(&target)) {
      d = add(t->edge1, scale(t->unitNormal(), (2 * unit() - 1) * 1e-3f));
    } else {
      d = cross(sub(aim, static_cast<const Sphere &>(target).center), direction());
    }
    return Ray(sub(aim, scale(d, logUniform(0.01f, 100.0f))), d);
  }
  case 3:
    return Ray(aim, direction());
  case 4:
  case 5: { // a reflection, or a shadow ray towards a point light at parameter 1
    const Vec3 from = inCube(aim, spread);
    const Ray primary(from, sub(aim, from));
    const Hit hit = reference.nearest(primary);
    if (hit.shape == nullptr) {
      return primary;
    }
    const Vec3 point = add(primary.origin, scale(primary.direction, hit.t));
    const Vec3 normal = hit.shape->normalAt(point);
    if (chance(0.5f)) {
      Vec3 view = scale(primary.direction, -1.0f);
      normalize(view);
      return Ray(point, sub(scale(normal, float(2.0 * dot(view, normal))), view));
    }
    return Ray(point, sub(inCube(camera, spread), point));
  }
  case 6: {
    const float s = chance(0.5f) ? logUniform(1e-12f, 1e-3f) : logUniform(1e3f, 1e12f);
    return Ray(camera, scale(sub(aim, camera), s));
  }
  default: {
    const float values[] = {kInf, -kInf, kNaN, 3e38f, 1e30f, 1e7f, 1e-30f, 0.0f};
    Ray odd(camera, sub(aim, camera));
    if (chance(0.1f)) {
      odd.direction = Vec3();
      return odd;
    }
    Vec3 &v = chance(0.5f) ? odd.direction : odd.origin;
    (chance(0.5f) ? v.y : v.x) = values[whole(0, 7)];
    return odd;
  }
  }
}
