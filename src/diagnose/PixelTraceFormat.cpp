// The two ways explainPixel's record is printed: lines for people, JSON for
// scripts.

#include <cmath>
#include <cstdio>

#include "diagnose/PixelTrace.h"
#include "diagnose/ShapeNames.h"

namespace {

// Floats to nine significant digits in JSON, enough to read back the same
// float; six for people.
std::string number(double value, bool exact) {
  if (!std::isfinite(value)) {
    return exact ? "null" : (std::isnan(value) ? "nan" : value > 0 ? "inf" : "-inf");
  }
  char text[32];
  std::snprintf(text, sizeof text, exact ? "%.9g" : "%g", value);
  return text;
}

// Built by appending: GCC 12 warns wrongly about "(" + std::string.
std::string listOf(const Vec3 &v, bool exact, char open, char close) {
  std::string text(1, open);
  text += number(v.x, exact);
  text += ", ";
  text += number(v.y, exact);
  text += ", ";
  text += number(v.z, exact);
  text += close;
  return text;
}

std::string triple(const Vec3 &v) {
  return listOf(v, false, '(', ')');
}

std::string jsonTriple(const Vec3 &v) {
  return listOf(v, true, '[', ']');
}

std::string shapeName(const Shape &shape) {
  return std::string(shapeKeyword(shape)) + " (line " + std::to_string(shape.sourceLine) + ")";
}

std::string lightText(const PixelTrace::LightStep &light) {
  std::string text = std::string(light.keyword) + " (line " + std::to_string(light.line) + "): ";
  if (!light.facing) {
    return text + "on the other side of the surface from the viewer; adds nothing";
  }
  if (light.blocked) {
    return text + "in shadow, blocked by " +
           (light.blocker != nullptr ? shapeName(*light.blocker) : "a shape") + "; adds nothing";
  }
  text += "reaches it, cosine " + number(light.cosine, false);
  if (light.attenuation != 1.0f) {
    text += ", falloff 1/d^2 = " + number(light.attenuation, false);
  }
  return text + "; diffuse " + triple(light.diffuse) + ", specular " + triple(light.specular);
}

std::string jsonLight(const PixelTrace::LightStep &light) {
  std::string json = "{\"kind\": \"" + std::string(light.keyword) +
                     "\", \"line\": " + std::to_string(light.line) +
                     ", \"facing\": " + (light.facing ? "true" : "false") +
                     ", \"blocked\": " + (light.blocked ? "true" : "false");
  if (light.blocker != nullptr) {
    json += ", \"blocked_by\": {\"shape\": \"" + std::string(shapeKeyword(*light.blocker)) +
            "\", \"line\": " + std::to_string(light.blocker->sourceLine) + "}";
  }
  if (light.facing && !light.blocked) {
    json += ", \"cosine\": " + number(light.cosine, true) +
            ", \"attenuation\": " + number(light.attenuation, true) +
            ", \"diffuse\": " + jsonTriple(light.diffuse) +
            ", \"specular\": " + jsonTriple(light.specular);
  }
  return json + "}";
}

} // namespace

std::string describePixelTrace(const PixelTrace &trace) {
  std::string out = "pixel " + std::to_string(trace.x) + ", " + std::to_string(trace.y) + " (row " +
                    std::to_string(trace.y) + " from the bottom, " +
                    std::to_string(trace.height - 1 - trace.y) + " from the top) of " +
                    std::to_string(trace.width) + " x " + std::to_string(trace.height) + "\n";
  for (std::size_t i = 0; i < trace.levels.size(); ++i) {
    const PixelTrace::Level &level = trace.levels[i];
    const std::string indent(2 * i, ' ');
    out += indent + (i == 0 ? "ray from the eye " : "mirror ray " + std::to_string(i) + " from ") +
           triple(level.ray.origin) + " along " + triple(level.ray.direction) + "\n";
    if (level.shape == nullptr) {
      out += indent + "  hits nothing: black\n";
      continue;
    }
    const Material &m = level.shape->material;
    out += indent + "  hits " + shapeName(*level.shape) + " at t = " + number(level.t, false) +
           ", point " + triple(level.point) + ", normal " + triple(level.normal) + "\n";
    out += indent + "  material colour " + triple(m.color) + ", exponent " +
           number(m.exponent, false) + ", reflectivity " + number(m.reflectivity, false) + "\n";
    out += indent + "  ambient " + triple(level.ambient) + "\n";
    for (const PixelTrace::LightStep &light : level.lights) {
      out += indent + "  " + lightText(light) + "\n";
    }
    out += indent + "  colour " + triple(level.colour) + " = ambient + (1 - " +
           number(m.reflectivity, false) + ") x diffuse + " + number(m.reflectivity, false) +
           " x (specular" + (i + 1 < trace.levels.size() ? " + mirror ray)" : ")") + "\n";
  }
  out += "colour before clamping " + triple(trace.colour) + "\n";
  out += "bytes stored " + std::to_string(trace.bytes[0]) + " " + std::to_string(trace.bytes[1]) +
         " " + std::to_string(trace.bytes[2]) + " (red green blue)\n";
  return out;
}

std::string pixelTraceJson(const PixelTrace &trace) {
  std::string json = "{\"x\": " + std::to_string(trace.x) + ", \"y\": " + std::to_string(trace.y) +
                     ", \"width\": " + std::to_string(trace.width) +
                     ", \"height\": " + std::to_string(trace.height) + ", \"rays\": [";
  for (std::size_t i = 0; i < trace.levels.size(); ++i) {
    const PixelTrace::Level &level = trace.levels[i];
    json += std::string(i == 0 ? "" : ", ") + "{\"origin\": " + jsonTriple(level.ray.origin) +
            ", \"direction\": " + jsonTriple(level.ray.direction) + ", \"hit\": ";
    if (level.shape == nullptr) {
      json += "null}";
      continue;
    }
    const Material &m = level.shape->material;
    json += "{\"shape\": \"" + std::string(shapeKeyword(*level.shape)) +
            "\", \"line\": " + std::to_string(level.shape->sourceLine) +
            ", \"t\": " + number(level.t, true) + ", \"point\": " + jsonTriple(level.point) +
            ", \"normal\": " + jsonTriple(level.normal) +
            ", \"material\": {\"color\": " + jsonTriple(m.color) +
            ", \"exponent\": " + number(m.exponent, true) +
            ", \"reflectivity\": " + number(m.reflectivity, true) +
            "}}, \"ambient\": " + jsonTriple(level.ambient) + ", \"lights\": [";
    for (std::size_t j = 0; j < level.lights.size(); ++j) {
      json += (j == 0 ? "" : ", ") + jsonLight(level.lights[j]);
    }
    json += "], \"color\": " + jsonTriple(level.colour) + "}";
  }
  json += "], \"color\": " + jsonTriple(trace.colour) + ", \"bytes\": [" +
          std::to_string(trace.bytes[0]) + ", " + std::to_string(trace.bytes[1]) + ", " +
          std::to_string(trace.bytes[2]) + "]}";
  return json;
}
