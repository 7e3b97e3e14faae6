#include "diagnose/SceneProbe.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "accel/MakeIntersector.h"
#include "diagnose/ShapeNames.h"
#include "diagnose/ViewFrustum.h"
#include "image/Image.h"
#include "render/RowRunner.h"
#include "render/TraceBody.h"
#include "render/TraceObserver.h"

namespace {

// One byte step of a stored channel.
constexpr double kByteStep = 1.0 / 255.0;
// A shape counts as seen from behind when rays from the eye meet its back
// within about 75 degrees of head-on in at least 3 pixels and 1/6400 of the
// picture. The backs of a closed mesh's far side show only at grazing angles
// or through pinholes between its triangles, which is no winding mistake.
constexpr double kSquarelyBehind = 0.25;
constexpr std::size_t kPixelsFromBehind = 3;
constexpr std::size_t kPictureShareFromBehind = 6400;

class ProbeObserver : public NoTraceObserver {
public:
  explicit ProbeObserver(const Scene &scene) {
    for (const PointLight *l = scene.pointLights; l != nullptr; l = l->next) {
      index_[l] = lights.size();
      lights.push_back({"pointLight", l->sourceLine, 0.0, 0.0, false});
    }
    for (const DirectionLight *l = scene.directionLights; l != nullptr; l = l->next) {
      index_[l] = lights.size();
      lights.push_back({"directionLight", l->sourceLine, 0.0, 0.0, false});
    }
  }

  void hit(const Ray &ray, int depth, const Hit &hit, const Vec3 &, const Vec3 &normal) {
    reached.insert(hit.shape);
    if (depth != RayTracer::kMaxDepth) {
      return;
    }
    primaryHit = true;
    const double behind = dot(ray.direction, normal) / length(ray.direction);
    std::size_t &count = seen[hit.shape];
    count += behind > kSquarelyBehind;
  }
  template <class Light>
  void lightAdded(const Light &light, double cosine, float attenuation, const Vec3 &,
                  const Vec3 &) {
    if (!(cosine > 0.0)) {
      return;
    }
    ProbeResult::LightSeen &seen = lights[index_[&light]];
    seen.lightsSomething = true;
    const double channel = std::max({light.color.x, light.color.y, light.color.z});
    const double strength = channel * attenuation * cosine;
    if (strength > seen.strongest) {
      seen.strongest = strength;
      seen.distance = 1.0 / std::sqrt(double(attenuation));
    }
  }

  bool primaryHit = false;
  std::unordered_set<const Shape *> reached;
  // Shapes hit by rays from the eye, with the number of those rays that
  // meet its back squarely.
  std::unordered_map<const Shape *, std::size_t> seen;
  std::vector<ProbeResult::LightSeen> lights;

private:
  std::unordered_map<const void *, std::size_t> index_;
};

// Where the shapes are, to say where to look: the mean of the spheres' centres
// and the triangles' first corners.
std::string shapesCentre(const Scene &scene) {
  double sum[3] = {};
  double count = 0;
  for (const Shape *s = scene.shapes; s != nullptr; s = s->next) {
    const Vec3 c = dynamic_cast<const Sphere *>(s) != nullptr
                       ? static_cast<const Sphere *>(s)->center
                       : static_cast<const Triangle *>(s)->vertex0;
    if (std::isfinite(c.x) && std::isfinite(c.y) && std::isfinite(c.z)) {
      sum[0] += c.x;
      sum[1] += c.y;
      sum[2] += c.z;
      ++count;
    }
  }
  if (count == 0) {
    return "";
  }
  return " (they lie around " + shortNumber(sum[0] / count) + " " + shortNumber(sum[1] / count) +
         " " + shortNumber(sum[2] / count) + ")";
}

// Whether the camera and every light are behind the triangle (the side its
// normal points away from): it is then seen from behind and every light
// darkens it, so it shows black.
bool seenAndLitFromBehind(const Scene &scene, const Triangle &t) {
  if (scene.pointLights == nullptr && scene.directionLights == nullptr) {
    return false;
  }
  const Vec3 normal = t.unitNormal();
  if (!(dot(normal, sub(scene.eye, t.vertex0)) < 0.0)) {
    return false;
  }
  for (const DirectionLight *l = scene.directionLights; l != nullptr; l = l->next) {
    if (!(dot(normal, l->direction) < 0.0)) {
      return false;
    }
  }
  for (const PointLight *l = scene.pointLights; l != nullptr; l = l->next) {
    if (!(dot(normal, sub(l->position, t.vertex0)) < 0.0)) {
      return false;
    }
  }
  return true;
}

} // namespace

ProbeResult probeRender(const Scene &scene, int width, int height) {
  ProbeResult probe;
  const std::unique_ptr<Intersector> shapes =
      makeIntersector(scene, Structure::Auto, std::size_t(width) * std::size_t(height));
  const RayTracer tracer;
  const RayTracer::CameraRays rays = RayTracer::cameraRays(scene, width, height);
  ProbeObserver observer(scene);
  // One thread, so the observer needs no locking; row starts are formed as
  // the renderer forms them.
  runRows(
      height, 1, rays.start, rays.stepY,
      [&](int, const Vec3 &rowStart) {
        Vec3 current = rowStart;
        for (int column = 0; column < width; ++column) {
          observer.primaryHit = false;
          Vec3 colour = tracer.traceObserved(scene, *shapes, Ray(scene.eye, current),
                                             RayTracer::kMaxDepth, observer);
          clamp01(colour);
          probe.blackPixels += Image::toByte(colour.x) == 0 && Image::toByte(colour.y) == 0 &&
                               Image::toByte(colour.z) == 0;
          probe.surfacePixels += observer.primaryHit;
          addInPlace(current, rays.stepX);
        }
      },
      [](int) {});
  probe.reached.assign(observer.reached.begin(), observer.reached.end());
  const std::size_t pixels = std::size_t(width) * std::size_t(height);
  for (const auto &[shape, behind] : observer.seen) {
    probe.seen.push_back(shape);
    if (behind >= std::max(kPixelsFromBehind, pixels / kPictureShareFromBehind)) {
      probe.seenFromBehind.push_back(shape);
    }
  }
  probe.lights = std::move(observer.lights);
  return probe;
}

void checkProbe(const Scene &scene, const ProbeResult &probe, int width, int height,
                std::vector<Finding> &findings) {
  const std::string size = std::to_string(width) + "x" + std::to_string(height);
  const std::uint32_t cameraLine = scene.cameraLine == 0 ? 1 : scene.cameraLine;
  if (scene.shapes == nullptr) {
    return;
  }
  if (probe.surfacePixels == 0) {
    findings.push_back({cameraLine, "sees-nothing",
                        "the camera sees no shape: every ray of a " + size + " picture misses", "",
                        "point the camera at the shapes" + shapesCentre(scene)});
  } else {
    const std::unordered_set<const Shape *> reached(probe.reached.begin(), probe.reached.end());
    const ViewFrustum view(scene, width, height);
    for (const Shape *s = scene.shapes; s != nullptr; s = s->next) {
      if (reached.count(s) == 0 && view.outside(*s)) {
        findings.push_back(
            {s->sourceLine == 0 ? 1 : s->sourceLine, "outside",
             std::string(shapeKeyword(*s)) + " lies outside the picture, so no ray reaches it",
             "# shapes lie outside the picture, so no ray reaches them",
             "move the shapes into view or turn the camera"});
      }
    }
    for (const Shape *s : probe.seenFromBehind) {
      const auto *t = dynamic_cast<const Triangle *>(s);
      if (t != nullptr && seenAndLitFromBehind(scene, *t)) {
        findings.push_back(
            {s->sourceLine == 0 ? 1 : s->sourceLine, "from-behind",
             "triangle is seen from behind and every light is behind it too, so it shows black",
             "# triangles are seen from behind with every light behind them too, so they show "
             "black",
             "swap two corners of each (counter-clockwise seen from the front)"});
      }
    }
    for (const ProbeResult::LightSeen &seen : probe.lights) {
      const std::string keyword = seen.keyword;
      const std::uint32_t line = seen.line;
      if (!seen.lightsSomething) {
        findings.push_back({line == 0 ? 1 : line, "lights-nothing",
                            keyword + " lights no surface the camera sees: every one is turned "
                                      "away from it, shadowed, or encloses it",
                            "# lights light no surface the camera sees",
                            "move it to the side of the surfaces that faces the camera"});
      } else if (keyword == "pointLight" && seen.strongest < kByteStep) {
        const double d = seen.distance;
        findings.push_back(
            {line == 0 ? 1 : line, "dim-light",
             "pointLight adds less than one byte step where it lights (at most " +
                 shortNumber(seen.strongest) + " at distance " + shortNumber(d) +
                 "; light falls off with 1/d^2)",
             "# point lights add less than one byte step where they light",
             "raise its colour to about " + shortNumber(std::ceil(d * d)) + " or move it closer"});
      }
    }
  }
  const std::size_t pixels = std::size_t(width) * std::size_t(height);
  // Said only when nothing above explains it; the summary line gives the share.
  if (probe.blackPixels == pixels && findings.empty()) {
    findings.push_back({cameraLine, "all-black",
                        "every pixel of a " + size + " picture is pure black", "",
                        "see the other findings"});
  }
}
