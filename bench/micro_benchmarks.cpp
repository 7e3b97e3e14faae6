// Micro-benchmarks of the hot path: one intersection, a nearest-hit query
// over many shapes on each path, and trace() on a small scene.

#include <benchmark/benchmark.h>

#include <memory>

#include "accel/ListIntersector.h"
#include "accel/MakeIntersector.h"
#include "accel/flat/FlatIntersector.h"
#include "geometry/Intersection.h"
#include "render/RayTracer.h"

namespace {

void SphereIntersect(benchmark::State &state) {
  const Vec3 center(0.0f, 0.0f, -5.0f);
  Ray ray({0.1f, 0.2f, 0.0f}, {0.01f, -0.02f, -1.0f});
  for (auto _ : state) {
    benchmark::DoNotOptimize(ray);
    benchmark::DoNotOptimize(intersectSphere(center, 1.0f, 0.01f, ray));
  }
}
BENCHMARK(SphereIntersect);

void TriangleIntersect(benchmark::State &state) {
  const Vec3 v0(-1.0f, -1.0f, -5.0f);
  const Vec3 e1(2.0f, 0.0f, 0.0f);
  const Vec3 e2(1.0f, 2.0f, 0.0f);
  Ray ray({0.1f, 0.2f, 0.0f}, {0.01f, -0.02f, -1.0f});
  for (auto _ : state) {
    benchmark::DoNotOptimize(ray);
    benchmark::DoNotOptimize(intersectTriangle(v0, e1, e2, 0.01f, ray));
  }
}
BENCHMARK(TriangleIntersect);

// A grid of spheres and triangles in front of the camera, a few lights and
// mirrors: every kind of query occurs.
void buildSmallScene(Scene &scene, int spheres, int triangles) {
  scene.ambient = {0.1f, 0.1f, 0.1f};
  scene.addDirectionLight({1, 1, 1}, {-0.3f, 1.0f, 0.5f});
  scene.addPointLight({30, 30, 30}, {2, 6, 2});
  Material m;
  m.color = {0.8f, 0.6f, 0.4f};
  m.exponent = 20;
  for (int i = 0; i < spheres; ++i) {
    m.reflectivity = i % 3 == 0 ? 0.5f : 0.0f;
    scene.addSphere(m, {float(i % 8) - 3.5f, float(i / 8 % 8) - 3.5f, -12.0f - float(i / 64)},
                    0.45f);
  }
  for (int i = 0; i < triangles; ++i) {
    const float x = float(i % 16) * 0.5f - 4.0f;
    const float y = float(i / 16 % 16) * 0.5f - 4.0f;
    scene.addTriangle(m, {x, y, -10.0f}, {x + 0.4f, y, -10.0f}, {x, y + 0.4f, -10.2f});
  }
}

// The nearest-hit query over a scene of state.range(0) spheres and as many
// triangles, for the primary rays of a 16 x 16 grid; items are ray-shape
// tests.
void nearestQuery(benchmark::State &state, const Intersector &shapes, int shapeCount) {
  std::vector<Ray> rays;
  for (int i = 0; i < 256; ++i) {
    rays.emplace_back(Vec3(), Vec3(float(i % 16) / 40.0f - 0.2f, float(i / 16) / 40.0f - 0.2f, -1));
  }
  for (auto _ : state) {
    for (const Ray &ray : rays) {
      benchmark::DoNotOptimize(shapes.nearest(ray));
    }
  }
  state.SetItemsProcessed(state.iterations() * std::int64_t(rays.size()) * shapeCount);
}

void NearestReference(benchmark::State &state) {
  Scene scene;
  buildSmallScene(scene, int(state.range(0)), int(state.range(0)));
  nearestQuery(state, ListIntersector(scene.shapes), 2 * int(state.range(0)));
}
BENCHMARK(NearestReference)->Arg(64)->Arg(256);

void NearestFlat(benchmark::State &state) {
  Scene scene;
  buildSmallScene(scene, int(state.range(0)), int(state.range(0)));
  const auto level = SimdLevel(state.range(1));
  const FlatIntersector flat(scene.shapes, level);
  if (flat.level() != level) {
    state.SkipWithError("this processor does not run this level");
    return;
  }
  nearestQuery(state, flat, 2 * int(state.range(0)));
}
BENCHMARK(NearestFlat)->ArgsProduct({{64, 256}, {0, 1, 2}})->ArgNames({"shapes", "simd"});

void TraceSmallScene(benchmark::State &state) {
  Scene scene;
  buildSmallScene(scene, 32, 32);
  const std::unique_ptr<Intersector> shapes =
      makeIntersector(scene.shapes, state.range(0) == 0 ? Structure::List : Structure::Flat);
  const RayTracer tracer;
  for (auto _ : state) {
    for (int i = 0; i < 64; ++i) {
      const Ray ray(Vec3(), Vec3(float(i % 8) / 20.0f - 0.2f, float(i / 8) / 20.0f - 0.2f, -1));
      benchmark::DoNotOptimize(tracer.trace(scene, *shapes, ray, RayTracer::kMaxDepth));
    }
  }
  state.SetItemsProcessed(state.iterations() * 64);
}
BENCHMARK(TraceSmallScene)->Arg(0)->Arg(1)->ArgName("flat");

} // namespace
