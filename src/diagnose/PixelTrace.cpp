#include "diagnose/PixelTrace.h"

#include <memory>
#include <new>

#include "accel/MakeIntersector.h"
#include "image/Image.h"
#include "render/RowRunner.h"
#include "render/TraceBody.h"
#include "render/TraceObserver.h"

namespace {

// Records each step into a PixelTrace; levels follow the recursion, which
// has at most one mirror ray per level.
class RecordingObserver : public NoTraceObserver {
public:
  RecordingObserver(const Scene &scene, PixelTrace &trace) : scene_(scene), trace_(trace) {}

  void miss(const Ray &ray, int) {
    trace_.levels.emplace_back();
    trace_.levels.back().ray = ray;
  }
  void hit(const Ray &ray, int, const Hit &hit, const Vec3 &point, const Vec3 &normal) {
    PixelTrace::Level &level = trace_.levels.emplace_back();
    level.ray = ray;
    level.shape = hit.shape;
    level.t = hit.t;
    level.point = point;
    level.normal = normal;
    level.ambient = mul(hit.shape->material.color, scene_.ambient);
  }
  void lightSkipped(const DirectionLight &light, bool facing, const Ray &shadow) {
    skipped("directionLight", light.sourceLine, facing, shadow, ShadowQuery::TowardsDirection);
  }
  void lightSkipped(const PointLight &light, bool facing, const Ray &shadow) {
    skipped("pointLight", light.sourceLine, facing, shadow, ShadowQuery::BeforeOne);
  }
  void lightAdded(const DirectionLight &light, double cosine, float attenuation,
                  const Vec3 &diffuse, const Vec3 &specular) {
    added("directionLight", light.sourceLine, cosine, attenuation, diffuse, specular);
  }
  void lightAdded(const PointLight &light, double cosine, float attenuation, const Vec3 &diffuse,
                  const Vec3 &specular) {
    added("pointLight", light.sourceLine, cosine, attenuation, diffuse, specular);
  }
  void colour(int depth, const Vec3 &colour) {
    trace_.levels[std::size_t(RayTracer::kMaxDepth - depth)].colour = colour;
  }

private:
  void skipped(const char *keyword, std::uint32_t line, bool facing, const Ray &shadow,
               ShadowQuery kind) {
    PixelTrace::LightStep step;
    step.keyword = keyword;
    step.line = line;
    step.facing = facing;
    step.blocked = facing;
    if (facing) {
      // The tracer only asks whether something is in the way; name the
      // nearest shape that is.
      float nearest = kFarAway;
      for (const Shape *s = scene_.shapes; s != nullptr; s = s->next) {
        const float t = s->intersect(shadow);
        if (blocks(t, kind) && (step.blocker == nullptr || t < nearest)) {
          nearest = t;
          step.blocker = s;
        }
      }
    }
    trace_.levels.back().lights.push_back(step);
  }
  void added(const char *keyword, std::uint32_t line, double cosine, float attenuation,
             const Vec3 &diffuse, const Vec3 &specular) {
    PixelTrace::LightStep step;
    step.keyword = keyword;
    step.line = line;
    step.facing = true;
    step.cosine = cosine;
    step.attenuation = attenuation;
    step.diffuse = diffuse;
    step.specular = specular;
    trace_.levels.back().lights.push_back(step);
  }

  const Scene &scene_;
  PixelTrace &trace_;
};

} // namespace

PixelTrace explainPixel(const Scene &scene, int width, int height, int x, int y) {
  PixelTrace trace;
  trace.x = x;
  trace.y = y;
  trace.width = width;
  trace.height = height;
  const std::unique_ptr<Intersector> shapes = makeIntersector(scene, Structure::Auto, 1);
  const RayTracer tracer;
  const RayTracer::CameraRays rays = RayTracer::cameraRays(scene, width, height);
  RecordingObserver observer(scene, trace);
  // The row starts and the steps along the row are added up as the renderer
  // adds them, so the ray is the one the rendered pixel had.
  runRows(
      y + 1, 1, rays.start, rays.stepY,
      [&](int row, const Vec3 &rowStart) {
        if (row != y) {
          return;
        }
        Vec3 direction = rowStart;
        for (int column = 0; column < x; ++column) {
          addInPlace(direction, rays.stepX);
        }
        Vec3 colour = tracer.traceObserved(scene, *shapes, Ray(scene.eye, direction),
                                           RayTracer::kMaxDepth, observer);
        trace.colour = colour;
        clamp01(colour);
        Image pixel(1, 1);
        if (!pixel.valid()) {
          throw std::bad_alloc();
        }
        pixel.setPixel(0, 0, colour.x, colour.y, colour.z);
        for (int i = 0; i < 3; ++i) {
          trace.bytes[i] = pixel.pixels[std::size_t(i)];
        }
      },
      [](int) {});
  return trace;
}
