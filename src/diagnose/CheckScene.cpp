#include "diagnose/CheckScene.h"

#include "diagnose/Findings.h"
#include "diagnose/SceneChecks.h"
#include "diagnose/SceneProbe.h"

std::vector<std::string> checkScene(const Scene &scene, const std::string &file, int width,
                                    int height, std::size_t &findingCount) {
  std::vector<Finding> findings;
  const bool cameraSound = checkSceneDeclarations(scene, width, height, findings);
  std::string black;
  if (cameraSound) {
    const ProbeResult probe = probeRender(scene, width, height);
    checkProbe(scene, probe, width, height, findings);
    const double share = 100.0 * double(probe.blackPixels) / (double(width) * double(height));
    black = "; " + shortNumber(share) + "% of a " + std::to_string(width) + "x" +
            std::to_string(height) + " render is pure black";
  }
  std::vector<std::string> lines = formatFindings(file, std::move(findings));
  findingCount = lines.size();
  lines.push_back(file + ": " +
                  (findingCount == 0 ? std::string("no likely mistakes found")
                                     : std::to_string(findingCount) +
                                           (findingCount == 1 ? " finding" : " findings")) +
                  black);
  return lines;
}
