// The error analysis in docs/exact-acceleration.md, checked against the
// intersection routines themselves: every reported hit point must lie within
// the derived distance of the exact shape. The bounds here are the derived
// ones, without the safety factors the hierarchy adds on top.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "geometry/Intersection.h"

namespace {

using Real = long double;

constexpr Real kUnit = 0x1p-24L; // float unit roundoff

struct Point {
  Real x, y, z;
};

Point toPoint(const Vec3 &v) {
  return {v.x, v.y, v.z};
}
Point operator+(Point a, Point b) {
  return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Point operator-(Point a, Point b) {
  return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Point operator*(Point a, Real s) {
  return {a.x * s, a.y * s, a.z * s};
}
Real dotL(Point a, Point b) {
  return a.x * b.x + a.y * b.y + a.z * b.z;
}
Real lengthL(Point a) {
  return std::sqrt(dotL(a, a));
}

// The reported hit point o + t d, in extended precision (t d is exact).
Point reported(const Ray &ray, float t) {
  return toPoint(ray.origin) + toPoint(ray.direction) * Real(t);
}

// Distance from p to the triangle a, a + e1, a + e2 (closest-point regions).
Real distanceToTriangle(Point p, Point a, Point e1, Point e2) {
  const Point b = a + e1;
  const Point c = a + e2;
  const Point ap = p - a;
  const Real d1 = dotL(e1, ap);
  const Real d2 = dotL(e2, ap);
  if (d1 <= 0 && d2 <= 0) {
    return lengthL(ap);
  }
  const Point bp = p - b;
  const Real d3 = dotL(e1, bp);
  const Real d4 = dotL(e2, bp);
  if (d3 >= 0 && d4 <= d3) {
    return lengthL(bp);
  }
  const Real vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) {
    return lengthL(p - (a + e1 * (d1 / (d1 - d3))));
  }
  const Point cp = p - c;
  const Real d5 = dotL(e1, cp);
  const Real d6 = dotL(e2, cp);
  if (d6 >= 0 && d5 <= d6) {
    return lengthL(cp);
  }
  const Real vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) {
    return lengthL(p - (a + e2 * (d2 / (d2 - d6))));
  }
  const Real va = d3 * d6 - d5 * d4;
  if (va <= 0 && (d4 - d3) >= 0 && (d5 - d6) >= 0) {
    const Point cb = c - b;
    return lengthL(p - (b + cb * ((d4 - d3) / ((d4 - d3) + (d5 - d6)))));
  }
  const Real denom = 1 / (va + vb + vc);
  return lengthL(p - (a + e1 * (vb * denom) + e2 * (vc * denom)));
}

Vec3 randomUnit(std::mt19937_64 &random) {
  std::normal_distribution<float> normal;
  Vec3 v(normal(random), normal(random), normal(random));
  normalize(v);
  return v;
}

float logUniform(std::mt19937_64 &random, float lo, float hi) {
  return std::exp(std::uniform_real_distribution<float>(std::log(lo), std::log(hi))(random));
}

TEST(TriangleErrorBound, ReportedHitsLieWithinTheDerivedDistance) {
  std::mt19937_64 random(11);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  Real worst = 0;
  int hits = 0;
  for (int i = 0; i < 200000; ++i) {
    const Vec3 v0 = scale(randomUnit(random), logUniform(random, 1e-2f, 1e4f));
    const Vec3 e1 = scale(randomUnit(random), logUniform(random, 1e-2f, 1e3f));
    const Vec3 e2 = scale(randomUnit(random), logUniform(random, 1e-2f, 1e3f));
    // Aim at a point of the triangle, edges included, from a grazing or a
    // steep angle, with a direction of any length.
    float a = unit(random);
    float b = unit(random);
    if (a + b > 1.0f) {
      a = 1.0f - a;
      b = 1.0f - b;
    }
    const Vec3 target = add(v0, add(scale(e1, a), scale(e2, b)));
    Vec3 normal = cross(e1, e2);
    normalize(normal);
    const float tilt = logUniform(random, 1e-7f, 1.0f);
    Vec3 along = add(scale(e1, unit(random) - 0.5f), scale(e2, unit(random) - 0.5f));
    normalize(along);
    Vec3 direction = add(along, scale(normal, tilt));
    normalize(direction);
    direction = scale(direction, logUniform(random, 1e-2f, 1e3f));
    const Vec3 origin = sub(target, scale(direction, logUniform(random, 1e-2f, 1e2f)));
    const Ray ray(origin, direction);

    const float t = intersectTriangle(v0, e1, e2, 0.01f, ray);
    if (t < 0.0f) {
      continue;
    }
    ++hits;
    const Vec3 p = cross(direction, e2);
    const Real det = std::fabs(Real(dot(p, e1)));
    const Real s = lengthL(toPoint(origin) - toPoint(v0));
    const Real d = lengthL(toPoint(direction));
    const Real l1 = lengthL(toPoint(e1));
    const Real l2 = lengthL(toPoint(e2));
    const Real bound = 12.1L * kUnit * s * d * l1 * l2 / det + 1.01L * kUnit * std::max(l1, l2);
    const Real distance =
        distanceToTriangle(reported(ray, t), toPoint(v0), toPoint(e1), toPoint(e2));
    ASSERT_LE(distance, bound) << "v0 " << v0.x << " " << v0.y << " " << v0.z << " e1 " << e1.x
                               << " " << e1.y << " " << e1.z << " e2 " << e2.x << " " << e2.y << " "
                               << e2.z << " origin " << origin.x << " " << origin.y << " "
                               << origin.z << " direction " << direction.x << " " << direction.y
                               << " " << direction.z;
    worst = std::max(worst, distance / bound);
  }
  EXPECT_GT(hits, 50000);
  std::printf("largest distance / derived bound: %.3Lg over %d hits\n", worst, hits);
}

TEST(SphereErrorBound, ReportedHitsLieWithinTheDerivedDistance) {
  std::mt19937_64 random(12);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  Real worst = 0;
  int hits = 0;
  for (int i = 0; i < 200000; ++i) {
    const Vec3 centre = scale(randomUnit(random), logUniform(random, 1e-2f, 1e4f));
    float radius = logUniform(random, 1e-3f, 1e3f);
    if (unit(random) < 0.0f) {
      radius = -radius;
    }
    // Rays passing the centre at about the radius: grazing, entering, or
    // starting inside or on the sphere.
    const Vec3 side = randomUnit(random);
    const Vec3 miss = scale(side, std::fabs(radius) * (1.0f + 0.01f * unit(random)));
    Vec3 direction = cross(side, randomUnit(random));
    normalize(direction);
    direction = scale(direction, logUniform(random, 1e-2f, 1e3f));
    const float back = logUniform(random, 1e-3f, 1e4f) * (unit(random) < -0.8f ? 0.0f : 1.0f);
    const Vec3 origin = sub(add(centre, miss), scale(direction, back));
    const Ray ray(origin, direction);

    const float t = intersectSphere(centre, radius, 0.01f, ray);
    if (t < 0.0f) {
      continue;
    }
    ++hits;
    const Real m = lengthL(toPoint(origin)) + lengthL(toPoint(centre)) + std::fabs(Real(radius));
    const Real bound = 4.6L * std::sqrt(kUnit) * m;
    const Real excess = lengthL(reported(ray, t) - toPoint(centre)) - std::fabs(Real(radius));
    ASSERT_LE(excess, bound) << "centre " << centre.x << " " << centre.y << " " << centre.z
                             << " radius " << radius << " origin " << origin.x << " " << origin.y
                             << " " << origin.z << " direction " << direction.x << " "
                             << direction.y << " " << direction.z;
    worst = std::max(worst, excess / bound);
  }
  EXPECT_GT(hits, 50000);
  std::printf("largest excess / derived bound: %.3Lg over %d hits\n", worst, hits);
}

} // namespace
