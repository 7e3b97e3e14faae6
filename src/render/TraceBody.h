#pragma once

// The body of RayTracer::traceObserved, for the renderer and for the tools
// that watch it work (see TraceObserver.h). Included where an observer type is
// instantiated.

#include <cmath>

#include "render/RayTracer.h"

namespace trace_detail {

// A light counts only when it is on the same side of the surface as the
// viewer; a dot product of exactly 0 counts as the front side.
inline bool sameSide(double viewDotNormal, double lightDotNormal) {
  return (viewDotNormal < 0.0) == (lightDotNormal < 0.0);
}

// Mirror image of `v` about the unit normal `n`.
inline Vec3 reflect(const Vec3 &v, const Vec3 &n) {
  return sub(scale(n, float(2.0 * dot(v, n))), v);
}

// Highlight factor pow(V.R, exponent) * reflectivity; 0 when V.R is negative.
inline float specularFactor(const Vec3 &view, const Vec3 &mirrored, const Material &material) {
  const double viewDotMirrored = dot(view, mirrored);
  if (viewDotMirrored < 0.0) {
    return 0.0f;
  }
  return float(std::pow(double(float(viewDotMirrored)), double(material.exponent)) *
               material.reflectivity);
}

} // namespace trace_detail

template <class Observer>
Vec3 RayTracer::traceObserved(const Scene &scene, const Intersector &shapes, const Ray &ray,
                              int depth, Observer &observer) const {
  using namespace trace_detail;
  // Nearest hit; at equal distance the shape met first in list order wins.
  const Hit hit = shapes.nearest(ray);
  if (hit.shape == nullptr) {
    observer.miss(ray, depth);
    return {};
  }

  const Vec3 point = add(ray.origin, scale(ray.direction, hit.t));
  const Vec3 normal = hit.shape->normalAt(point);
  observer.hit(ray, depth, hit, point, normal);
  Vec3 view = scale(ray.direction, -1.0f);
  normalize(view);
  const Material &material = hit.shape->material;
  const double viewDotNormal = dot(view, normal);

  Vec3 colour = mul(material.color, scene.ambient);
  Vec3 diffuseSum;
  Vec3 specularSum;

  for (const DirectionLight *light = scene.directionLights; light != nullptr; light = light->next) {
    const Vec3 &toLight = light->direction;
    const double diffuse = dot(toLight, normal);
    const Ray shadow(point, toLight);
    const bool facing = sameSide(viewDotNormal, diffuse);
    if (!facing || shapes.blocked(shadow, ShadowQuery::TowardsDirection)) {
      observer.lightSkipped(*light, facing, shadow);
      continue;
    }
    const float specular = specularFactor(view, reflect(toLight, normal), material);
    const Vec3 filtered = mul(material.color, light->color);
    const Vec3 diffuseTerm = scale(filtered, float(diffuse));
    const Vec3 specularTerm = scale(filtered, specular);
    observer.lightAdded(*light, diffuse, 1.0f, diffuseTerm, specularTerm);
    addInPlace(diffuseSum, diffuseTerm);
    addInPlace(specularSum, specularTerm);
  }

  for (const PointLight *light = scene.pointLights; light != nullptr; light = light->next) {
    // Unnormalised, so the light itself sits at parameter 1 of the shadow ray.
    const Vec3 toLightFull = sub(light->position, point);
    const Ray shadow(point, toLightFull);
    const bool facing = sameSide(viewDotNormal, dot(toLightFull, normal));
    if (!facing || shapes.blocked(shadow, ShadowQuery::BeforeOne)) {
      observer.lightSkipped(*light, facing, shadow);
      continue;
    }
    const double inverseDistance = 1.0 / length(toLightFull);
    const Vec3 toLight = scale(toLightFull, float(inverseDistance));
    const double diffuse = dot(toLight, normal);
    const float specular = specularFactor(view, reflect(toLight, normal), material);
    const float attenuation = float(inverseDistance * inverseDistance);
    const Vec3 filtered = mul(material.color, light->color);
    const Vec3 diffuseTerm = scale(scale(filtered, float(diffuse)), attenuation);
    const Vec3 specularTerm = scale(scale(filtered, specular), attenuation);
    observer.lightAdded(*light, diffuse, attenuation, diffuseTerm, specularTerm);
    addInPlace(diffuseSum, diffuseTerm);
    addInPlace(specularSum, specularTerm);
  }

  const float k = material.reflectivity;
  if (k > 0.0f && depth > 0) {
    const Ray mirrored(point, reflect(view, normal));
    observer.reflection(mirrored, depth - 1);
    addInPlace(specularSum, traceObserved(scene, shapes, mirrored, depth - 1, observer));
  }

  addInPlace(colour, add(scale(diffuseSum, float(1.0 - k)), scale(specularSum, k)));
  observer.colour(depth, colour);
  return colour;
}
