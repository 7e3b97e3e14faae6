#include "diagnose/SceneChecks.h"

#include <cmath>
#include <string>

#include "diagnose/ShapeNames.h"
#include "diagnose/ViewFrustum.h"

namespace {

// The hit test rejects |det| below this; det is at most |edge1 x edge2| times
// the ray direction's length.
constexpr double kDeterminantLimit = 0.01;
// Triangles that pass only within 60 degrees of head-on are reported once
// they are more than this share of all triangles, the share scenetool import
// leaves when it picks a size.
constexpr double kHeadOnShare = 0.01;

bool finite(const Vec3 &v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

bool isZero(const Vec3 &v) {
  return v.x == 0.0f && v.y == 0.0f && v.z == 0.0f;
}

double crossLength(const Triangle &t) {
  const double x = double(t.edge1.y) * t.edge2.z - double(t.edge1.z) * t.edge2.y;
  const double y = double(t.edge1.z) * t.edge2.x - double(t.edge1.x) * t.edge2.z;
  const double z = double(t.edge1.x) * t.edge2.y - double(t.edge1.y) * t.edge2.x;
  return std::sqrt(x * x + y * y + z * z);
}

std::uint32_t lineOr1(std::uint32_t line) {
  return line == 0 ? 1 : line;
}

void add(std::vector<Finding> &findings, std::uint32_t line, std::string kind, std::string one,
         std::string many, std::string advice) {
  findings.push_back(
      {lineOr1(line), std::move(kind), std::move(one), std::move(many), std::move(advice)});
}

bool shapeFinite(const Shape &shape) {
  const Material &m = shape.material;
  if (!finite(m.color) || !std::isfinite(m.exponent) || !std::isfinite(m.reflectivity)) {
    return false;
  }
  if (const auto *t = dynamic_cast<const Triangle *>(&shape)) {
    return finite(t->vertex0) && finite(t->vertex1) && finite(t->vertex2);
  }
  const auto &s = static_cast<const Sphere &>(shape);
  return finite(s.center) && std::isfinite(s.radius);
}

const char *const kNonFiniteAdvice = "write numbers within +-3.4e38, the range of a float";

// Returns true when the camera can be probed.
bool checkCamera(const Scene &scene, std::vector<Finding> &findings) {
  const std::uint32_t line = scene.cameraLine;
  const std::size_t before = findings.size();
  if (!finite(scene.eye) || !finite(scene.forward) || !finite(scene.up) ||
      !std::isfinite(scene.fov)) {
    add(findings, line, "camera-nonfinite", "camera has a number beyond the range of a float", "",
        kNonFiniteAdvice);
    return false;
  }
  if (isZero(scene.forward)) {
    add(findings, line, "camera-lookat",
        "camera's look-at point equals its eye, so it looks nowhere", "",
        "give a look-at point away from the eye");
  } else if (length(scene.right) < 1e-3) {
    add(findings, line, "camera-up",
        "camera's up vector is zero or parallel to the viewing direction, so the picture has no "
        "width",
        "", "give an up vector perpendicular to the view, such as 0 1 0 for a level camera");
  }
  if (!(scene.fov > 0.0f && scene.fov < 180.0f)) {
    add(findings, line, "camera-fov",
        "camera's field of view " + shortNumber(scene.fov) + " is not between 0 and 180 degrees",
        "", "give a vertical field of view such as 45");
  }
  for (const Shape *shape = scene.shapes; shape != nullptr; shape = shape->next) {
    const auto *sphere = dynamic_cast<const Sphere *>(shape);
    if (sphere != nullptr && length(sub(scene.eye, sphere->center)) < std::fabs(sphere->radius)) {
      add(findings, line, "camera-inside",
          "camera's eye is inside the sphere of line " + std::to_string(sphere->sourceLine) +
              ", so every ray starts in it",
          "camera's eye is inside # spheres, so every ray starts in them",
          "move the eye outside the sphere or shrink it");
    }
  }
  return findings.size() == before;
}

void checkLights(const Scene &scene, std::vector<Finding> &findings) {
  if (scene.pointLights == nullptr && scene.directionLights == nullptr && isZero(scene.ambient)) {
    add(findings, scene.ambientLine, "no-light",
        "the scene has no lights and no ambient light, so every surface is black", "",
        "add a directionLight or pointLight (or an ambientLight)");
  }
  if (!finite(scene.ambient)) {
    add(findings, scene.ambientLine, "ambient-nonfinite",
        "ambientLight has a number beyond the range of a float", "", kNonFiniteAdvice);
  }
  // One finding for both kinds of light, so that they group together.
  const auto nonFiniteLight = [&](std::uint32_t line) {
    add(findings, line, "light-nonfinite", "light has a number beyond the range of a float",
        "# lights have a number beyond the range of a float", kNonFiniteAdvice);
  };
  for (const DirectionLight *l = scene.directionLights; l != nullptr; l = l->next) {
    if (!finite(l->color) || !finite(l->direction)) {
      nonFiniteLight(l->sourceLine);
    } else if (isZero(l->direction)) {
      add(findings, l->sourceLine, "light-direction",
          "directionLight has a zero direction, so it lights nothing", "",
          "give the direction towards the light, such as 0 1 0 for overhead");
    }
  }
  for (const PointLight *l = scene.pointLights; l != nullptr; l = l->next) {
    if (!finite(l->color) || !finite(l->position)) {
      nonFiniteLight(l->sourceLine);
    }
  }
}

void checkShapes(const Scene &scene, double longestRay, std::vector<Finding> &findings) {
  if (scene.shapes == nullptr) {
    add(findings, 1, "no-shapes", "the scene has no shapes, so every pixel is black", "",
        "add a sphere or triangle after a material (a complete example: scenes/example.txt)");
    return;
  }
  std::size_t triangles = 0;
  std::vector<Finding> headOn;
  for (const Shape *shape = scene.shapes; shape != nullptr; shape = shape->next) {
    const std::string keyword = shapeKeyword(*shape);
    const Material &m = shape->material;
    if (!shapeFinite(*shape)) {
      add(findings, shape->sourceLine, "shape-nonfinite",
          keyword + " has a number beyond the range of a float",
          "# shapes have a number beyond the range of a float", kNonFiniteAdvice);
      continue;
    }
    if (scene.firstMaterialLine == 0 || shape->sourceLine < scene.firstMaterialLine) {
      add(findings, shape->sourceLine, "before-material",
          keyword + " comes before any material, so it is black",
          "# shapes come before any material, so they are black",
          "put a material command before the shapes");
    } else if (isZero(m.color) && !(m.reflectivity > 0.0f)) {
      add(findings, shape->sourceLine, "black-material",
          keyword + " has a material of colour 0 0 0 and no reflectivity, so it is black",
          "# shapes have a material of colour 0 0 0 and no reflectivity, so they are black",
          "give the material a colour");
    }
    const auto *t = dynamic_cast<const Triangle *>(shape);
    if (t == nullptr) {
      continue;
    }
    ++triangles;
    const double cross = crossLength(*t);
    if (cross == 0.0) {
      add(findings, shape->sourceLine, "degenerate",
          "triangle is degenerate (its corners lie on one line), so it is never hit",
          "# triangles are degenerate (corners on one line), so they are never hit",
          "remove it or move a corner");
    } else if (cross * longestRay < kDeterminantLimit) {
      add(findings, shape->sourceLine, "tiny",
          "triangle is too small for the hit test (|edge1 x edge2| = " + shortNumber(cross) +
              " is below 0.01), so no ray from the camera hits it",
          "# triangles are too small for the hit test (|edge1 x edge2| below 0.01), so no ray "
          "from the camera hits them",
          "scale the scene up (scenetool scale) or make the triangles larger");
    } else if (cross * longestRay < 2.0 * kDeterminantLimit) {
      headOn.push_back({shape->sourceLine, "head-on", "", "",
                        "scale the scene up (scenetool scale) or make the triangles larger"});
    }
  }
  if (double(headOn.size()) > kHeadOnShare * double(triangles)) {
    for (Finding &f : headOn) {
      f.one = "triangle is small for the hit test (|edge1 x edge2| below 0.02), so it is missed "
              "when seen more than 60 degrees from head-on";
      f.many = "# triangles are small for the hit test (|edge1 x edge2| below 0.02), so they are "
               "missed when seen more than 60 degrees from head-on";
      findings.push_back(std::move(f));
    }
  }
}

} // namespace

bool checkSceneDeclarations(const Scene &scene, int width, int height,
                            std::vector<Finding> &findings) {
  const bool cameraSound = checkCamera(scene, findings);
  checkLights(scene, findings);
  const double longestRay = cameraSound ? ViewFrustum(scene, width, height).longestRay() : 1.0;
  checkShapes(scene, longestRay, findings);
  return cameraSound;
}
