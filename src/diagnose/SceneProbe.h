#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "diagnose/Findings.h"
#include "scene/Scene.h"

// What a width x height render of the scene shows, traced with the
// renderer's own arithmetic: the picture, which shapes any ray reaches, and
// how much each light adds where it lights a surface. No picture is kept, so
// any size the renderer accepts is probed without a raster.
struct ProbeResult {
  std::size_t blackPixels = 0;
  std::size_t surfacePixels = 0;             // pixels whose primary ray hits a shape
  std::vector<const Shape *> reached;        // by any ray, mirror rays included
  std::vector<const Shape *> seen;           // by a ray from the eye
  std::vector<const Shape *> seenFromBehind; // ... from well behind, not grazing
  struct LightSeen {
    const char *keyword = ""; // "pointLight" or "directionLight"
    std::uint32_t line = 0;
    // Largest colour channel x 1/d^2 x cosine over the points it lights
    // from the front, and the distance at that point (point lights).
    double strongest = 0.0;
    double distance = 0.0;
    bool lightsSomething = false;
  };
  std::vector<LightSeen> lights; // in the scene's list order, point lights first
};

ProbeResult probeRender(const Scene &scene, int width, int height);

// Findings that need the probe: a camera that sees no shape, shapes outside
// the picture, lights that light nothing in view or too little to show, and
// a wholly black picture.
void checkProbe(const Scene &scene, const ProbeResult &probe, int width, int height,
                std::vector<Finding> &findings);
