#pragma once

#include <string>

// Scales a whole scene about the origin so that it lights the same: camera
// eye and look-at point, point-light positions, sphere centres and radii and
// triangle corners by k; point-light colours by k squared (they fall off with
// the square of the distance). Directions, the field of view, materials and
// the other colours stay. Comments and blank lines are kept; each command is
// written in its usual layout, one group per line.
struct ScaledScene {
  // Empty on success; otherwise one line.
  std::string error;
  std::string text;
};

// `text` must be a scene the loader accepts.
ScaledScene scaleSceneText(std::string text, double k);
