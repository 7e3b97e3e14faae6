#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "accel/Intersector.h"
#include "accel/bvh/BvhIntersector.h"

// A light buffer: for one light, the triangles a shadow ray towards it can
// meet, binned by where the ray comes from. Rays towards a direction light
// are parallel, so they are binned by their position across the light's
// direction; rays towards a point light all pass (nearly) through the light,
// so they are binned by their direction seen from it, over the six faces of a
// cube. Each triangle goes into every bin its footprint touches, grown by the
// error reach of its intersection routine, and each bin keeps its triangles
// sorted by how far along the ray they could lie, so a query stops at the
// first one the ray cannot reach. Any ray the buffer covers gets a set of
// candidates holding every shape that could report a blocking hit; the
// caller tests them with the intersection routine, so the answer is the list
// walk's. Nearest-hit rays from the camera's eye, which all start at one
// point, are binned the same way. See docs/exact-acceleration.md, section 8.
class LightBuffer {
public:
  using Prim = BvhIntersector::Prim;

  // Where covered shadow rays may start: a box around every shape.
  struct Region {
    float lo[3];
    float hi[3];
  };

  // Nullopt when the light or the region is outside the error analysis, or
  // when too many prims would have to be tested by every query. `fine`:
  // finer bins, for many rays per prim (fewer candidates, more entries).
  static std::optional<LightBuffer> towardsDirection(const Vec3 &direction,
                                                     const std::vector<Prim> &prims,
                                                     const Region &from, bool fine = false);
  static std::optional<LightBuffer> towardsPoint(const Vec3 &position,
                                                 const std::vector<Prim> &prims, const Region &from,
                                                 bool fine = false);
  // Nearest-hit rays from the eye: they all start at one point, as shadow
  // rays towards a point light all end at one.
  static std::optional<LightBuffer> fromEye(const Vec3 &position, const std::vector<Prim> &prims,
                                            const Region &from, bool fine = false);

  // For a ray from the eye: false when the buffer does not cover it; else
  // `first()` has been called (for the shapes outside the buffer), then
  // `offer(prim)` for every candidate that could report a hit at or below
  // `bestT()` (nearest first, about), so the hits offered rank as the list
  // walk's.
  template <class First, class Offer, class BestT>
  bool nearest(const Ray &ray, First &&first, Offer &&offer, BestT &&bestT) const {
    Lookup at;
    if (!lookUpFromEye(ray, at)) {
      return false;
    }
    first();
    for (const std::uint32_t prim : alwaysTested_) {
      if (within(sides_[prim], at)) {
        offer(prim);
      }
    }
    // A candidate's hits lie at least its key from the eye: at t >= key / |d|.
    double farthest = double(bestT()) * at.limit;
    for (const Entry *entry = at.begin; entry != at.end && entry->key <= farthest; ++entry) {
      if (within(sides_[entry->prim], at)) {
        offer(entry->prim);
        farthest = double(bestT()) * at.limit;
      }
    }
    return true;
  }

  // -1 when the buffer does not cover this shadow ray; else 1 when a test
  // held for one of the ray's candidates (asked in an order of the buffer's
  // choosing, and no more once one holds), 0 when for none. The prims
  // tested by every query go to test(prim) one at a time, those in the
  // bins (triangles only) to testFour(prims, n) up to four at a time.
  template <class Test, class TestFour>
  int blocked(const Ray &ray, ShadowQuery kind, Test &&test, TestFour &&testFour) const {
    Lookup at;
    if (!lookUp(ray, kind, at)) {
      return -1;
    }
    for (const std::uint32_t prim : alwaysTested_) {
      if ((sides_.empty() || within(sides_[prim], at)) && test(prim)) {
        return 1;
      }
    }
    std::uint32_t four[4];
    int held = 0;
    for (const Entry *entry = at.begin; entry != at.end && entry->key <= at.limit; ++entry) {
      if (sides_.empty() || within(sides_[entry->prim], at)) {
        four[held++] = entry->prim;
        if (held == 4) {
          if (testFour(four, held)) {
            return 1;
          }
          held = 0;
        }
      }
    }
    return held > 0 && testFour(four, held) ? 1 : 0;
  }

  std::size_t memoryBytes() const;

  // A prim in a bin; a bin's entries ascend by key, and only those with
  // keys up to the query's limit can be met.
  struct Entry {
    float key;
    std::uint32_t prim;
  };
  // A query's bin, the limit on its entries' keys (from a point: at least
  // |from|), and its direction seen from the point.
  struct Lookup {
    const Entry *begin;
    const Entry *end;
    double limit;
    double from[3]; // point light: o - light; eye: d
  };
  // Seen from a point light, the planes through the light and each edge of a
  // triangle: a ray whose start o has n.(o - light) < -margin |o - light|
  // for one of them passes too far outside the triangle to meet it.
  struct Sides {
    float normal[3][3];
    float margin[3]; // +inf: no test
  };

private:
  LightBuffer() = default;
  static bool within(const Sides &sides, const Lookup &at) {
    for (int k = 0; k < 3; ++k) {
      const double side = sides.normal[k][0] * at.from[0] + sides.normal[k][1] * at.from[1] +
                          sides.normal[k][2] * at.from[2];
      if (side < -sides.margin[k] * at.limit) {
        return false;
      }
    }
    return true;
  }
  bool lookUp(const Ray &ray, ShadowQuery kind, Lookup &at) const;
  bool lookUpFromEye(const Ray &ray, Lookup &at) const;
  // The bin of the direction w seen from the point.
  const Entry *binAround(const double w[3], const Entry *&end) const;
  static std::optional<LightBuffer> aroundPoint(const Vec3 &position,
                                                const std::vector<Prim> &prims, const Region &from,
                                                bool eye, bool fine);
  // A prim's rectangle of bins (inclusive ranges) on one face (a point
  // light's cube has six; a direction light's grid is face 0).
  struct Footprint {
    std::uint32_t prim;
    float key;
    int face;
    int lo[2];
    int hi[2];
  };
  // Which bins of a footprint its prim may be met from: seen from a point
  // light, those whose directions come near enough the triangle's edge
  // planes; side k keeps bin (x, y) when at + perX x + perY y >= least
  // (every bin with -inf).
  struct Carve {
    double at[3];
    double perX[3];
    double perY[3];
    double least[3];
  };
  Carve carveFor(const Footprint &f) const;
  // How many bins the faces' windows around these footprints hold.
  static double windowArea(const std::vector<Footprint> &footprints);
  // Makes the bins from the footprints; false when they would take more
  // than `maxEntries` entries.
  bool fill(std::vector<Footprint> &footprints, double maxEntries);

  // A face's bins: the rectangle its footprints touch, row by row.
  struct Window {
    int lo[2];
    int size[2]; // 0: no bins
    std::uint32_t first;
  };
  // The bin of (x, y) on a face, clamped into its window: no footprint
  // touches a bin outside it, so any bin's candidates are enough there.
  const Entry *binOf(int face, double x, double y, const Entry *&end) const;

  bool pointLight_ = false; // or the eye
  bool eye_ = false;
  // Row 0 along the direction of a direction light, or towards the middle of
  // the region from a point light (so that the shapes fall near the middle of
  // a cube face, where its bins are smallest); rows 1 and 2 across it.
  double frame_[3][3] = {};
  // Direction light: the direction covered, and where the grid across it starts.
  Vec3 direction_;
  double gridLo_[2] = {};
  double perBin_ = 0.0; // bins per unit: of length, or of a cube face's coordinates
  Window windows_[6] = {};
  // Point light or eye: its position.
  double light_[3] = {};
  double maxEndGap_ = 0.0;   // largest |o + d - light| covered
  double minDistance_ = 0.0; // smallest |o - light| covered
  // Both: where rays may start.
  Region from_{};
  std::vector<std::uint32_t> binStart_; // per bin, its first entry; one more at the end
  std::vector<Entry> entries_;
  std::vector<std::uint32_t> alwaysTested_;
  std::vector<Sides> sides_; // point light or eye: one per prim
};
