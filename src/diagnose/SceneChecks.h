#pragma once

#include <vector>

#include "diagnose/Findings.h"
#include "scene/Scene.h"

// Mistakes visible in the scene itself, without rendering: the camera, lights
// and ambient, materials, non-finite values and triangles that the hit test
// can never or hardly ever accept for a width x height picture. Returns true
// when the camera is sound enough for a probe render to mean anything.
bool checkSceneDeclarations(const Scene &scene, int width, int height,
                            std::vector<Finding> &findings);
