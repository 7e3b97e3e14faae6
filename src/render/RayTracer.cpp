#include "render/RayTracer.h"

#include <cmath>
#include <cstdio>

#include "accel/MakeIntersector.h"
#include "render/RowRunner.h"
#include "render/UsableCpus.h"

namespace {

// Degrees to radians with the factor 3.1415 / 180, not the exact pi / 180.
constexpr double kDegreesToRadians = 0.017452778;

// A light counts only when it is on the same side of the surface as the
// viewer; a dot product of exactly 0 counts as the front side.
bool sameSide(double viewDotNormal, double lightDotNormal) {
  return (viewDotNormal < 0.0) == (lightDotNormal < 0.0);
}

// Mirror image of `v` about the unit normal `n`.
Vec3 reflect(const Vec3 &v, const Vec3 &n) {
  return sub(scale(n, float(2.0 * dot(v, n))), v);
}

// Highlight factor pow(V.R, exponent) * reflectivity; 0 when V.R is negative.
float specularFactor(const Vec3 &view, const Vec3 &mirrored, const Material &material) {
  const double viewDotMirrored = dot(view, mirrored);
  if (viewDotMirrored < 0.0) {
    return 0.0f;
  }
  return float(std::pow(double(float(viewDotMirrored)), double(material.exponent)) *
               material.reflectivity);
}

void printProgress(int row, int height) {
  const float percent = float(row + 1) * 100.0f / float(height);
  std::printf("%g%%     \r", double(percent));
  std::fflush(stdout);
}

} // namespace

Vec3 RayTracer::trace(const Scene &scene, const Ray &ray, int depth) const {
  // Built through makeIntersector so that this file sees no concrete
  // structure: the compiler would otherwise guess the only one it sees at
  // every query of the other overload and test for it each time.
  return trace(scene, *makeIntersector(scene.shapes, Structure::List), ray, depth);
}

Vec3 RayTracer::trace(const Scene &scene, const Intersector &shapes, const Ray &ray,
                      int depth) const {
  // Nearest hit; at equal distance the shape met first in list order wins.
  const Hit hit = shapes.nearest(ray);
  if (hit.shape == nullptr) {
    return {};
  }

  const Vec3 point = add(ray.origin, scale(ray.direction, hit.t));
  const Vec3 normal = hit.shape->normalAt(point);
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
    if (!sameSide(viewDotNormal, diffuse) ||
        shapes.blocked(Ray(point, toLight), ShadowQuery::TowardsDirection)) {
      continue;
    }
    const float specular = specularFactor(view, reflect(toLight, normal), material);
    const Vec3 filtered = mul(material.color, light->color);
    addInPlace(diffuseSum, scale(filtered, float(diffuse)));
    addInPlace(specularSum, scale(filtered, specular));
  }

  for (const PointLight *light = scene.pointLights; light != nullptr; light = light->next) {
    // Unnormalised, so the light itself sits at parameter 1 of the shadow ray.
    const Vec3 toLightFull = sub(light->position, point);
    if (!sameSide(viewDotNormal, dot(toLightFull, normal)) ||
        shapes.blocked(Ray(point, toLightFull), ShadowQuery::BeforeOne)) {
      continue;
    }
    const double inverseDistance = 1.0 / length(toLightFull);
    const Vec3 toLight = scale(toLightFull, float(inverseDistance));
    const double diffuse = dot(toLight, normal);
    const float specular = specularFactor(view, reflect(toLight, normal), material);
    const float attenuation = float(inverseDistance * inverseDistance);
    const Vec3 filtered = mul(material.color, light->color);
    addInPlace(diffuseSum, scale(scale(filtered, float(diffuse)), attenuation));
    addInPlace(specularSum, scale(scale(filtered, specular), attenuation));
  }

  const float k = material.reflectivity;
  if (k > 0.0f && depth > 0) {
    const Vec3 mirrored = reflect(view, normal);
    addInPlace(specularSum, trace(scene, shapes, Ray(point, mirrored), depth - 1));
  }

  addInPlace(colour, add(scale(diffuseSum, float(1.0 - k)), scale(specularSum, k)));
  return colour;
}

std::unique_ptr<Image> RayTracer::render(const Scene &scene, int width, int height) const {
  const std::unique_ptr<Intersector> shapes = makeIntersector(scene.shapes);
  return render(scene, width, height, *shapes, 0);
}

std::unique_ptr<Image> RayTracer::render(const Scene &scene, int width, int height,
                                         const Intersector &shapes, int threads) const {
  auto image = std::make_unique<Image>(width, height);
  if (!image->valid()) {
    return nullptr;
  }

  const float halfHeight = float(std::tan(double(scene.fov) * kDegreesToRadians * 0.5));
  const float halfWidth = float(double(float(width)) / float(height) * halfHeight);

  const Vec3 start = add(add(scale(scene.right, -halfWidth), scale(scene.up, -halfHeight)),
                         scale(scene.forward, 1.0f));
  // A single column or row has no step to take; it lies on the left or
  // bottom border.
  const Vec3 stepX = width > 1 ? scale(scene.right, float(2.0 * halfWidth / (width - 1))) : Vec3();
  const Vec3 stepY = height > 1 ? scale(scene.up, float(2.0 * halfHeight / (height - 1))) : Vec3();

  // Directions advance by repeated addition, so every sample carries the
  // rounding of the additions before it: row starts are formed in row order,
  // then each row is walked from its start.
  const auto renderRow = [&](int row, const Vec3 &rowStart) {
    Vec3 current = rowStart;
    for (int column = 0; column < width; ++column) {
      Vec3 colour = trace(scene, shapes, Ray(scene.eye, current), kMaxDepth);
      clamp01(colour);
      image->setPixel(column, row, colour.x, colour.y, colour.z);
      addInPlace(current, stepX);
    }
  };
  if (threads <= 0) {
    threads = usableCpuCount();
  }
  runRows(height, threads, start, stepY, renderRow,
          [height](int row) { printProgress(row, height); });
  return image;
}
