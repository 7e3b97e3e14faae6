#pragma once

#include "geometry/Vec3.h"

// Surface properties copied into every shape. `reflectivity` weights both the
// highlight and the mirror term; all zeros (black) by default.
struct Material {
  Vec3 color;
  float exponent = 0.0f;
  float reflectivity = 0.0f;
};
