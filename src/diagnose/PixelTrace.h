#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geometry/Ray.h"
#include "geometry/Shape.h"
#include "scene/Scene.h"

// What the renderer computes for one pixel, step by step, as reported by the
// tracer itself while it renders that pixel.
struct PixelTrace {
  struct LightStep {
    const char *keyword = ""; // "directionLight" or "pointLight"
    std::uint32_t line = 0;
    bool facing = false; // on the viewer's side of the surface
    bool blocked = false;
    const Shape *blocker = nullptr; // the nearest shape in the way
    double cosine = 0.0;
    float attenuation = 1.0f;
    Vec3 diffuse;
    Vec3 specular;
  };
  // One ray: the primary ray, then each mirror ray.
  struct Level {
    Ray ray{{}, {}};
    const Shape *shape = nullptr; // null when the ray hits nothing
    float t = 0.0f;
    Vec3 point;
    Vec3 normal;
    Vec3 ambient; // the surface colour times the ambient light
    std::vector<LightStep> lights;
    Vec3 colour; // what this ray returns, mirror rays included
  };

  int x = 0;
  int y = 0; // row 0 is the bottom row
  int width = 0;
  int height = 0;
  std::vector<Level> levels;
  Vec3 colour;                // before clamping
  std::uint8_t bytes[3] = {}; // red, green, blue as stored
};

// Traces pixel (x, y) of a width x height render of `scene` exactly as the
// renderer does, recording each step. Coordinates must be in range.
PixelTrace explainPixel(const Scene &scene, int width, int height, int x, int y);

// The trace for people: one line per step, indented per mirror bounce.
std::string describePixelTrace(const PixelTrace &trace);
// The same as one JSON object; the stored bytes are under "bytes".
std::string pixelTraceJson(const PixelTrace &trace);
