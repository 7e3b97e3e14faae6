#pragma once

// A seeded generator of awkward scenes for comparing the ways of answering
// shape queries: spheres and triangles mixed in the list, mirrors, shapes that
// coincide or share edges, cameras inside spheres and with tilted up vectors,
// both kinds of light. Coordinates often fall on a coarse grid so that equal
// ray parameters, edge hits and grazing rays actually occur.

#include <cstdint>
#include <random>

#include "geometry/Sphere.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"

class RandomScene {
public:
  explicit RandomScene(std::uint32_t seed) : engine_(seed) {}

  // Uniform in [low, high), on a grid of 1/8 about half of the time.
  float number(float low, float high) {
    const float value = low + (high - low) * unit();
    return chance(0.5f) ? float(int(value * 8.0f)) / 8.0f : value;
  }

  Vec3 point(float low, float high) {
    return {number(low, high), number(low, high), number(low, high)};
  }

  bool chance(float probability) { return unit() < probability; }

  int whole(int low, int high) { return low + int(engine_() % std::uint32_t(high - low + 1)); }

  Material material() {
    Material m;
    m.color = {unit(), unit(), unit()};
    m.exponent = float(whole(0, 60));
    m.reflectivity = chance(0.4f) ? number(0.2f, 1.0f) : 0.0f;
    return m;
  }

  void fill(Scene &scene) {
    const Vec3 eye = point(-6, 6);
    Vec3 up = chance(0.5f) ? Vec3(0, 1, 0) : point(-1, 1); // often not perpendicular
    if (up.x == 0.0f && up.y == 0.0f && up.z == 0.0f) {
      up = {0, 1, 0};
    }
    scene.setCamera(eye, point(-3, 3), up, number(15, 80));
    scene.ambient = {unit() * 0.3f, unit() * 0.3f, unit() * 0.3f};
    for (int i = whole(0, 2); i > 0; --i) {
      scene.addDirectionLight({unit(), unit(), unit()}, point(-1, 1));
    }
    for (int i = whole(0, 2); i > 0; --i) {
      scene.addPointLight(point(0, 40), point(-8, 8));
    }
    if (chance(0.2f)) {
      scene.addSphere(material(), eye, number(0.5f, 3)); // the camera sits inside
    }
    for (int i = whole(1, 30); i > 0; --i) {
      addShape(scene);
    }
  }

private:
  float unit() { return float(engine_() >> 8) * (1.0f / 16777216.0f); }

  void addShape(Scene &scene) {
    const Material m = material();
    if (chance(0.45f)) {
      scene.addSphere(m, point(-5, 5), number(0.1f, 2.5f));
    } else if (chance(0.3f) && lastTriangle_) {
      // Shares an edge with the previous triangle: rays through the edge
      // meet both at the same parameter.
      scene.addTriangle(m, lastV1_, lastV0_, point(-5, 5));
    } else {
      lastV0_ = point(-5, 5);
      lastV1_ = chance(0.1f) ? lastV0_ : point(-5, 5); // sometimes degenerate
      scene.addTriangle(m, lastV0_, lastV1_, point(-5, 5));
      lastTriangle_ = true;
    }
    if (chance(0.15f)) {
      duplicateHead(scene, material());
    }
  }

  // The same geometry again with another material: only list order decides.
  static void duplicateHead(Scene &scene, const Material &m) {
    if (const auto *s = dynamic_cast<const Sphere *>(scene.shapes)) {
      scene.addSphere(m, s->center, s->radius);
    } else if (const auto *t = dynamic_cast<const Triangle *>(scene.shapes)) {
      scene.addTriangle(m, t->vertex0, t->vertex1, t->vertex2);
    }
  }

  std::mt19937 engine_;
  bool lastTriangle_ = false;
  Vec3 lastV0_;
  Vec3 lastV1_;
};
