#pragma once

#include "accel/Intersector.h"
#include "geometry/Ray.h"
#include "scene/Lights.h"

// What RayTracer::traceObserved reports while it shades a ray, for tools that
// explain a pixel or survey a scene. The tracer passes each value it has
// already computed; an observer only looks. This one does nothing, so the
// renderer's own path compiles to the same code as an unobserved trace.
struct NoTraceObserver {
  // Nothing is hit along `ray`; the colour is black.
  void miss(const Ray &, int) {}
  // `hit` is the nearest hit along `ray`, at `point` with unit `normal`.
  void hit(const Ray &, int, const Hit &, const Vec3 &, const Vec3 &) {}
  // A light that adds nothing: it is on the other side of the surface from
  // the viewer (`facing` false), or `shadow` is blocked.
  void lightSkipped(const DirectionLight &, bool, const Ray &) {}
  void lightSkipped(const PointLight &, bool, const Ray &) {}
  // A light that adds `diffuse` and `specular` (before the reflectivity
  // weights); `cosine` is the light direction dotted with the normal, and
  // `attenuation` the 1/d^2 factor of a point light (1 for direction lights).
  void lightAdded(const DirectionLight &, double, float, const Vec3 &, const Vec3 &) {}
  void lightAdded(const PointLight &, double, float, const Vec3 &, const Vec3 &) {}
  // A mirror ray about to be traced one level deeper.
  void reflection(const Ray &, int) {}
  // The colour the trace at this depth returns.
  void colour(int, const Vec3 &) {}
};
