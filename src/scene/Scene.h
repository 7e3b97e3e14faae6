#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "geometry/Shape.h"
#include "scene/Lights.h"
#include "scene/ShapeArena.h"

class SceneStream;

// Everything the renderer reads: the camera, the ambient colour and three
// singly linked lists built by prepending, so traversal visits the most
// recently added element first. The scene owns every light and shape; the
// shapes live in its arena.
class Scene {
public:
  Scene() = default;
  ~Scene();

  Scene(const Scene &) = delete;
  Scene &operator=(const Scene &) = delete;

  // Reads a scene file into this scene; 1 on success, 0 after printing a
  // one-line message. Defined with the file format in SceneLoader.cpp.
  int load(const std::string &path);
  // The same for the contents of a scene file already in memory; messages
  // about the text are the same as load()'s.
  int loadText(std::string text);

  // Sets every camera field from an eye point, a look-at point, an up vector
  // and a vertical field of view in degrees. `up` is normalised but not made
  // perpendicular, so `right` may be shorter than 1.
  void setCamera(const Vec3 &eyePoint, const Vec3 &lookAt, const Vec3 &upVector, float fovDegrees);

  void addPointLight(const Vec3 &color, const Vec3 &position);
  void addDirectionLight(const Vec3 &color, const Vec3 &direction);
  void addSphere(const Material &material, const Vec3 &center, float radius);
  void addTriangle(const Material &material, const Vec3 &v0, const Vec3 &v1, const Vec3 &v2);

  // The length of the shape list.
  std::size_t shapeCount() const;

  Vec3 eye{0.0f, 0.0f, 0.0f};
  Vec3 forward{0.0f, 0.0f, -1.0f};
  Vec3 up{0.0f, 1.0f, 0.0f};
  Vec3 right{1.0f, 0.0f, 0.0f};
  float fov = 20.0f;
  Vec3 ambient;
  PointLight *pointLights = nullptr;
  DirectionLight *directionLights = nullptr;
  Shape *shapes = nullptr;

  // Where the file set the camera and the ambient light last and the first
  // material (1-based; 0 when it never did). Shapes and lights carry their
  // own line. Read only by diagnostics.
  std::uint32_t cameraLine = 0;
  std::uint32_t ambientLine = 0;
  std::uint32_t firstMaterialLine = 0;

private:
  // Reads every command of `in` into this scene; the message for the first
  // fault in the text, or empty.
  std::string readCommands(SceneStream &in);

  ShapeArena shapeArena_;
};
