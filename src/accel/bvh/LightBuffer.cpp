#include "accel/bvh/LightBuffer.h"

#include <algorithm>
#include <bit>
#include <cmath>

#include "accel/bvh/BvhBounds.h"

namespace {

using Prim = LightBuffer::Prim;

// A few double roundings, taken outwards.
constexpr double kUp = 1.0 + 0x1p-40;
constexpr double kDown = 1.0 - 0x1p-40;
// Lights and regions within this magnitude keep the rays' components within
// the analysis' range (2^20).
constexpr double kMaxCoordinate = 0x1p19;
// Bins per prim, and in all; at most this many prims tested by every query.
constexpr double kBinsPerPrim = 32.0;
constexpr double kMaxBins = 0x1p22;
constexpr std::size_t kMaxAlwaysTested = 16;
// The bins hold at most kEntriesPerPrim entries per prim in all (and 4,096
// more); a prim whose footprint covers more than a 32nd of that is tested by
// every query instead.
constexpr double kEntriesPerPrim = 64.0;

double entryBudget(std::size_t prims) {
  return kEntriesPerPrim * double(prims) + 4096.0;
}

bool tooWide(long long covered, std::size_t prims) {
  return double(covered) > entryBudget(prims) / 32.0;
}

// Seen from a point light, a prim wider than this (radians, half-angle) is
// tested by every query.
constexpr double kWideAngle = 0.3;
// Points closer to a point light than this share of the farthest point of
// the region are left to the hierarchy (the error bound grows as |d| shrinks);
// and a light gets no buffer where that distance is below 2^-16 of the
// largest coordinate, so that o - light, formed in double, lies within
// 2^-34 of its length (its direction within 2^-33, far inside the 2^-30 the
// bins are padded by).
constexpr double kNearLight = 0x1p-6;
// Largest |o + d - light| covered, as a share of the farthest point of the
// region: the tracer's rays stay within 2^-23 of it.
constexpr double kEndGap = 0x1p-20;
// Rays from the eye a buffer covers have |d| at most this (a camera's rays
// are a little longer than 1, up to about 4 for a field of view of 150
// degrees); their reach grows with it.
constexpr double kLongestFromEye = 4.0;
// Bins across the median footprint (a direction light's) or cone (a point
// light's, the eye's). Measured on 5,000 and 50,000-triangle meshes: finer
// bins mean fewer candidates per query but more entries to make; the eye's
// queries gain most from them (they cannot stop at the first blocker).
constexpr double kBinsAcrossFootprint = 2.0;
constexpr double kBinsAcrossCone = 2.0;
constexpr double kBinsAcrossEyeCone = 3.0;
// With many rays per prim (an image of at least 32 pixels per prim, see
// BvhOptions::pixels) finer bins pay: 3, 3 and 4 across. Measured on the
// 5,000-triangle torus at 640x480 (61 pixels per prim) 5% less render time
// and 5% less in all; on the 50,000-triangle one even at 25 pixels per prim
// and 7% more in all at 6.
constexpr double kFinerBins[3] = {3.0, 3.0, 4.0};

// At least asin(x), for 0 <= x < 1: tan(asin x) = x / sqrt(1 - x^2).
double angleAbove(double x) {
  return x / std::sqrt(1.0 - x * x) * kUp;
}

double lengthOf(const double v[3]) {
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

double dotOf(const double a[3], const double b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The largest coordinate magnitude of a region.
double largestIn(const LightBuffer::Region &region) {
  double largest = 0.0;
  for (int a = 0; a < 3; ++a) {
    largest = std::max({largest, std::fabs(double(region.lo[a])), std::fabs(double(region.hi[a]))});
  }
  return largest;
}

bool inside(const Vec3 &p, const LightBuffer::Region &region) {
  return p.x >= region.lo[0] && p.x <= region.hi[0] && p.y >= region.lo[1] && p.y <= region.hi[1] &&
         p.z >= region.lo[2] && p.z <= region.hi[2];
}

// A ball around the triangle v0, v0 + e1, v0 + e2 (in exact arithmetic):
// around its centroid, worked out in double; the radius takes in the
// roundings of the vertex sums, the centroid and the lengths.
struct Ball {
  double centre[3];
  double radius;
};

// The corners v0, v0 + e1, v0 + e2 in double (each sum within 2^-53 of its
// coordinate).
void cornersOf(const Prim &prim, double v[3][3]) {
  const Vec3 *edges[2] = {&prim.b, &prim.c};
  v[0][0] = prim.a.x;
  v[0][1] = prim.a.y;
  v[0][2] = prim.a.z;
  for (int k = 0; k < 2; ++k) {
    v[k + 1][0] = double(prim.a.x) + edges[k]->x;
    v[k + 1][1] = double(prim.a.y) + edges[k]->y;
    v[k + 1][2] = double(prim.a.z) + edges[k]->z;
  }
}

Ball ballAround(const Prim &prim) {
  double v[3][3];
  cornersOf(prim, v);
  Ball ball;
  double magnitude = 0.0;
  for (int a = 0; a < 3; ++a) {
    ball.centre[a] = (v[0][a] + v[1][a] + v[2][a]) / 3.0;
    magnitude += std::fabs(v[0][a]) + std::fabs(v[1][a]) + std::fabs(v[2][a]);
  }
  ball.radius = 0.0;
  for (const auto &vertex : v) {
    const double x[3] = {vertex[0] - ball.centre[0], vertex[1] - ball.centre[1],
                         vertex[2] - ball.centre[2]};
    ball.radius = std::max(ball.radius, lengthOf(x));
  }
  ball.radius = ball.radius * kUp + 0x1p-48 * magnitude + bvh::kAbsolute;
  return ball;
}

// How far a reported hit can lie from the triangle, given a bound on the
// hit's conditioning and on |o - v0|.
double reachOf(const Prim &prim, double conditioning, double span) {
  const double edge = std::max(bvh::lengthAbove(prim.b), bvh::lengthAbove(prim.c));
  return (bvh::kTriangleResidual * conditioning * span + bvh::kTriangleEdge * edge +
          bvh::kAbsolute) *
         kUp;
}

// Bins over [lo, hi] on an axis starting at `start` with `perBin` bins per
// unit, padded for the roundings of the scaling, kept within +-2^30.
void binRange(double lo, double hi, double start, double perBin, int &first, int &last) {
  first = int(std::clamp(std::floor((lo - start) * perBin - 0x1p-20), -0x1p30, 0x1p30));
  last = int(std::clamp(std::floor((hi - start) * perBin + 0x1p-20), -0x1p30, 0x1p30));
}

// Unit row 0 along `z`, and rows 1 and 2 across it, in double: orthonormal
// within a few units in the last place.
void frameAlong(const double z[3], double frame[3][3]) {
  const double length = std::sqrt(z[0] * z[0] + z[1] * z[1] + z[2] * z[2]);
  for (int a = 0; a < 3; ++a) {
    frame[0][a] = z[a] / length;
  }
  const double *x = frame[0];
  int least = 0;
  for (int a = 1; a < 3; ++a) {
    if (std::fabs(x[a]) < std::fabs(x[least])) {
      least = a;
    }
  }
  double helper[3] = {0.0, 0.0, 0.0};
  helper[least] = 1.0;
  double *first = frame[1];
  first[0] = x[1] * helper[2] - x[2] * helper[1];
  first[1] = x[2] * helper[0] - x[0] * helper[2];
  first[2] = x[0] * helper[1] - x[1] * helper[0];
  const double firstLength =
      std::sqrt(first[0] * first[0] + first[1] * first[1] + first[2] * first[2]);
  for (int a = 0; a < 3; ++a) {
    first[a] /= firstLength;
  }
  frame[2][0] = x[1] * first[2] - x[2] * first[1];
  frame[2][1] = x[2] * first[0] - x[0] * first[2];
  frame[2][2] = x[0] * first[1] - x[1] * first[0];
}

double medianOf(std::vector<double> values) {
  if (values.empty()) {
    return 0.0;
  }
  const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// Sorts by the top 32 bits, keeping the order of equal ones: four passes of
// a counting sort on a byte each, far cheaper than comparisons here.
void sortByHighHalf(std::vector<std::uint64_t> &values) {
  std::vector<std::uint64_t> other(values.size());
  for (int shift = 32; shift < 64; shift += 8) {
    std::size_t start[257] = {};
    for (const std::uint64_t v : values) {
      ++start[(v >> shift & 0xff) + 1];
    }
    for (int b = 0; b < 256; ++b) {
      start[b + 1] += start[b];
    }
    for (const std::uint64_t v : values) {
      other[start[v >> shift & 0xff]++] = v;
    }
    values.swap(other);
  }
}

bool isSphere(const Prim &prim) {
  return (prim.position & BvhIntersector::kSphereBit) != 0;
}

// The triangle's edge planes through the light, for a hit within `reach` of
// it whose points lie at least `nearest` from the light: the reported point
// lies within the angle asin(reach / nearest) of the triangle seen from the
// light, so on the inner side of each plane or less than its sine outside.
// The corners' roundings (at most 2^-50 `largest`, the largest coordinate)
// turn a normal by at most 2^-29 (2 largest / nearest + 1) while its length
// stays above 2^-20 |a| |b|, and storing it as floats by 2^-23; its side, if
// chosen wrongly, lies as little from the third corner. The query's o - light
// turns by at most 2^-33 (see kNearLight).
LightBuffer::Sides sidesOf(const Prim &prim, const double light[3], double nearest, double reach,
                           double largest) {
  LightBuffer::Sides sides{{}, {INFINITY, INFINITY, INFINITY}};
  if (!(reach < 0.5 * nearest)) {
    return sides;
  }
  double u[3][3];
  cornersOf(prim, u);
  for (auto &corner : u) {
    for (int a = 0; a < 3; ++a) {
      corner[a] -= light[a];
    }
  }
  const double margin =
      angleAbove(reach / nearest) + 0x1p-22 + 0x1p-27 * (2.0 * largest / nearest + 1.0) + 0x1p-30;
  LightBuffer::Sides made = sides;
  for (int k = 0; k < 3; ++k) {
    const double *a = u[k];
    const double *b = u[(k + 1) % 3];
    double n[3] = {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
    const double length = lengthOf(n);
    // Nearly parallel corners: the normal's direction is not well known.
    if (!(length > 0x1p-20 * lengthOf(a) * lengthOf(b))) {
      return sides;
    }
    const double sign = dotOf(n, u[(k + 2) % 3]) < 0.0 ? -1.0 : 1.0;
    for (int a2 = 0; a2 < 3; ++a2) {
      made.normal[k][a2] = float(sign * n[a2] / length);
    }
    made.margin[k] = bvh::floatAbove(margin);
  }
  return made;
}

// The other two axes of a cube face, in order.
constexpr int kAcross[3][2] = {{1, 2}, {0, 2}, {0, 1}};

} // namespace

std::size_t LightBuffer::memoryBytes() const {
  return binStart_.capacity() * sizeof(std::uint32_t) + entries_.capacity() * sizeof(Entry) +
         alwaysTested_.capacity() * sizeof(std::uint32_t) + sides_.capacity() * sizeof(Sides);
}

double LightBuffer::windowArea(const std::vector<Footprint> &footprints) {
  int lo[6][2];
  int hi[6][2];
  for (int f = 0; f < 6; ++f) {
    lo[f][0] = lo[f][1] = INT32_MAX;
    hi[f][0] = hi[f][1] = INT32_MIN;
  }
  for (const Footprint &f : footprints) {
    for (int a = 0; a < 2; ++a) {
      lo[f.face][a] = std::min(lo[f.face][a], f.lo[a]);
      hi[f.face][a] = std::max(hi[f.face][a], f.hi[a]);
    }
  }
  double area = 0.0;
  for (int f = 0; f < 6; ++f) {
    if (lo[f][0] <= hi[f][0]) {
      area += double(hi[f][0] - lo[f][0] + 1) * double(hi[f][1] - lo[f][1] + 1);
    }
  }
  return area;
}

bool LightBuffer::fill(std::vector<Footprint> &footprints, double maxEntries) {
  double total = 0.0;
  int lo[6][2];
  int hi[6][2];
  for (int f = 0; f < 6; ++f) {
    lo[f][0] = lo[f][1] = INT32_MAX;
    hi[f][0] = hi[f][1] = INT32_MIN;
  }
  // Every footprint spans at least one bin on each axis.
  footprints.erase(
      std::remove_if(footprints.begin(), footprints.end(),
                     [](const Footprint &f) { return f.lo[0] > f.hi[0] || f.lo[1] > f.hi[1]; }),
      footprints.end());
  double rows = 0.0;
  for (const Footprint &f : footprints) {
    total += double(f.hi[0] - f.lo[0] + 1) * double(f.hi[1] - f.lo[1] + 1);
    rows += double(f.hi[1] - f.lo[1] + 1);
    for (int a = 0; a < 2; ++a) {
      lo[f.face][a] = std::min(lo[f.face][a], f.lo[a]);
      hi[f.face][a] = std::max(hi[f.face][a], f.hi[a]);
    }
  }
  if (total > maxEntries) {
    return false;
  }
  double bins = 0.0;
  for (int f = 0; f < 6; ++f) {
    Window &window = windows_[f];
    window = {{0, 0}, {0, 0}, std::uint32_t(bins)};
    if (lo[f][0] <= hi[f][0]) {
      window.lo[0] = lo[f][0];
      window.lo[1] = lo[f][1];
      window.size[0] = hi[f][0] - lo[f][0] + 1;
      window.size[1] = hi[f][1] - lo[f][1] + 1;
      bins += double(window.size[0]) * double(window.size[1]);
    }
  }
  if (bins > kMaxBins || bins > maxEntries) {
    return false;
  }
  binStart_.assign(std::size_t(bins) + 1, 0);
  // Placed in key order (then prim order), every bin comes out sorted: the
  // footprints are taken by a sort of (key, position) pairs, the key's bits
  // made to order as unsigned numbers.
  std::vector<std::uint64_t> order(footprints.size());
  for (std::size_t i = 0; i < footprints.size(); ++i) {
    const std::uint32_t bits = std::bit_cast<std::uint32_t>(footprints[i].key);
    const std::uint32_t ordered = bits >> 31 != 0 ? ~bits : bits | 0x80000000u;
    order[i] = std::uint64_t(ordered) << 32 | i;
  }
  sortByHighHalf(order);
  // The footprints themselves in that order: the two passes below then read
  // them one after another instead of at random.
  {
    std::vector<Footprint> sorted(footprints.size());
    for (std::size_t n = 0; n < order.size(); ++n) {
      sorted[n] = footprints[std::uint32_t(order[n])];
    }
    footprints.swap(sorted);
  }
  std::vector<std::uint64_t>().swap(order);
  // Each footprint's kept columns, row by row (thinned once), counted into
  // the bins; then the entries placed.
  struct Columns {
    int from;
    int to; // below `from` when the row keeps none
  };
  std::vector<Columns> columns;
  columns.reserve(std::size_t(rows));
  for (const Footprint &f : footprints) {
    const Window &window = windows_[f.face];
    const Carve carve = carveFor(f);
    // A carve that keeps every bin (a direction light's, a wide prim's)
    // leaves the rows whole.
    const bool whole =
        carve.least[0] == -INFINITY && carve.least[1] == -INFINITY && carve.least[2] == -INFINITY;
    for (int y = f.lo[1]; y <= f.hi[1]; ++y) {
      // Along the row each side keeps a half-line of x; their common part,
      // widened by 2^-20 of a bin each way (solving for it rounds by far less
      // within the window's 2^20 bins).
      double from = f.lo[0];
      double to = f.hi[0];
      for (int k = 0; k < 3 && !whole; ++k) {
        const double need = carve.least[k] - (carve.at[k] + carve.perY[k] * y);
        if (carve.perX[k] > 0.0) {
          from = std::max(from, std::ceil(need / carve.perX[k] - 0x1p-20));
        } else if (carve.perX[k] < 0.0) {
          to = std::min(to, std::floor(need / carve.perX[k] + 0x1p-20));
        } else if (need > 0.0) {
          to = from - 1.0; // this side keeps nothing on the row
        }
      }
      if (!(from <= to)) { // also when a bound is past the row's end (or not a number)
        columns.push_back({1, 0});
        continue;
      }
      columns.push_back({int(from), int(to)});
      const std::size_t row =
          window.first + std::size_t(y - window.lo[1]) * std::size_t(window.size[0]);
      for (int x = int(from); x <= int(to); ++x) {
        ++binStart_[row + std::size_t(x - window.lo[0]) + 1];
      }
    }
  }
  const std::size_t count = binStart_.size() - 1;
  for (std::size_t bin = 0; bin < count; ++bin) {
    binStart_[bin + 1] += binStart_[bin];
  }
  entries_.resize(binStart_[count]);
  std::vector<std::uint32_t> next(binStart_.begin(), binStart_.end() - 1);
  const Columns *row = columns.data();
  for (const Footprint &f : footprints) {
    const Window &window = windows_[f.face];
    for (int y = f.lo[1]; y <= f.hi[1]; ++y, ++row) {
      const std::size_t first =
          window.first + std::size_t(y - window.lo[1]) * std::size_t(window.size[0]);
      for (int x = row->from; x <= row->to; ++x) {
        entries_[next[first + std::size_t(x - window.lo[0])]++] = {f.key, f.prim};
      }
    }
  }
  std::vector<Footprint>().swap(footprints);
  return true;
}

LightBuffer::Carve LightBuffer::carveFor(const Footprint &f) const {
  Carve carve{{}, {}, {}, {-INFINITY, -INFINITY, -INFINITY}};
  if (!pointLight_ || !std::isfinite(sides_[f.prim].margin[0])) {
    return carve;
  }
  const Sides &sides = sides_[f.prim];
  // A bin's directions (with the query's roundings) lie within asin(h / |m|)
  // of the direction of its middle m on the face's plane at unit distance
  // (h: half the bin's diagonal, padded; |m| >= 1). Side k keeps the bin
  // when n.m / |m| >= -margin - asin(h / |m|), for which
  // n.m >= -margin * (the largest |m| of the footprint) - h / sqrt(1 - h^2)
  // suffices; n.m is linear in the bin's (x, y).
  const double h = (0.7072 + 0x1p-20) / perBin_;
  if (!(h <= 0.5)) {
    return carve; // bins this wide are kept whole
  }
  const double spread = angleAbove(h) + 0x1p-30;
  const double s[2] = {
      std::max(std::fabs(f.lo[0] / perBin_ - 1.0), std::fabs((f.hi[0] + 1) / perBin_ - 1.0)),
      std::max(std::fabs(f.lo[1] / perBin_ - 1.0), std::fabs((f.hi[1] + 1) / perBin_ - 1.0))};
  const double longest = std::sqrt(1.0 + s[0] * s[0] + s[1] * s[1]) * kUp;
  const int axis = f.face / 2;
  const double sign = f.face % 2 == 0 ? 1.0 : -1.0;
  for (int k = 0; k < 3; ++k) {
    // The normal in the frame's coordinates: n.(R^-1 m) = (R n).m, R
    // orthonormal within 2^-50.
    double turned[3];
    for (int r = 0; r < 3; ++r) {
      turned[r] = sides.normal[k][0] * frame_[r][0] + sides.normal[k][1] * frame_[r][1] +
                  sides.normal[k][2] * frame_[r][2];
    }
    const double across0 = turned[kAcross[axis][0]];
    const double across1 = turned[kAcross[axis][1]];
    const double middle = 0.5 / perBin_ - 1.0;
    carve.at[k] = sign * turned[axis] + across0 * middle + across1 * middle;
    carve.perX[k] = across0 / perBin_;
    carve.perY[k] = across1 / perBin_;
    carve.least[k] = -sides.margin[k] * longest - spread - 0x1p-30;
  }
  return carve;
}

const LightBuffer::Entry *LightBuffer::binOf(int face, double x, double y,
                                             const Entry *&end) const {
  const Window &window = windows_[face];
  if (window.size[0] == 0) {
    end = entries_.data();
    return end;
  }
  // The offset from the window's first column or row, as floor(at) clamped
  // into the window: at or above 0 the conversion truncates as floor does
  // (and a NaN takes the first).
  const auto clampTo = [&](double at, int a) {
    const double offset = at - double(window.lo[a]);
    if (!(offset >= 1.0)) {
      return std::size_t(0);
    }
    return std::min(std::size_t(std::min(offset, 0x1p40)), std::size_t(window.size[a] - 1));
  };
  const std::size_t bin =
      window.first + clampTo(y, 1) * std::size_t(window.size[0]) + clampTo(x, 0);
  end = entries_.data() + binStart_[bin + 1];
  return entries_.data() + binStart_[bin];
}

std::optional<LightBuffer> LightBuffer::towardsDirection(const Vec3 &direction,
                                                         const std::vector<Prim> &prims,
                                                         const Region &from, bool fine) {
  const double largest = largestIn(from);
  const double length = bvh::lengthAbove(direction);
  if (prims.empty() || !(largest <= kMaxCoordinate) || !bvh::withinRange(direction) ||
      !(length >= bvh::kMinDirectionLength)) {
    return std::nullopt;
  }
  LightBuffer buffer;
  buffer.direction_ = direction;
  buffer.from_ = from;
  // Unit `along` and two unit axes across it, in double: near enough
  // orthogonal; the bounds below count how far they are from it.
  const double d[3] = {direction.x, direction.y, direction.z};
  const double dLength = lengthOf(d);
  frameAlong(d, buffer.frame_);
  const double *z = buffer.frame_[0];
  const double *across[2] = {buffer.frame_[1], buffer.frame_[2]};
  if (!(dotOf(d, z) > 0.5 * dLength)) {
    return std::nullopt;
  }

  // A hit at t > 0 lies at most `span + reach` from the ray's start, where
  // the ray has drifted across by at most `drift` per unit along it.
  double diagonal[3];
  for (int a = 0; a < 3; ++a) {
    diagonal[a] = double(from.hi[a]) - from.lo[a];
  }
  const double span = lengthOf(diagonal) * kUp;
  const double drift = (std::max(std::fabs(dotOf(d, across[0])), std::fabs(dotOf(d, across[1]))) +
                        0x1p-48 * (std::fabs(d[0]) + std::fabs(d[1]) + std::fabs(d[2]))) /
                       (dLength * kDown);
  // Rounding of a projection of a point of the region, or of a corner's sum.
  const double projection = 0x1p-48 * 3.0 * largest;

  struct Placed {
    double lo[2];
    double hi[2];
    bool wide;
    float key;
  };
  std::vector<Placed> placed(prims.size());
  std::vector<double> widths;
  widths.reserve(prims.size());
  for (std::size_t i = 0; i < prims.size(); ++i) {
    const Prim &prim = prims[i];
    Placed &p = placed[i];
    p.wide = true;
    if (isSphere(prim)) {
      continue;
    }
    const double gap = length * bvh::lengthAbove(prim.b) * bvh::lengthAbove(prim.c) * kUp;
    double m[3];
    bvh::crossInDouble(prim.b, prim.c, m);
    // |det| >= |d.m| - (1.1 u + 4 ud) |d| |e1| |e2|.
    const double denominator = std::fabs(dotOf(d, m)) * kDown - 0x1p-22 * gap * kUp;
    double conditioning = bvh::kDeterminantInverse * gap;
    if (denominator > 0.0) {
      conditioning = std::min(conditioning, gap / denominator * kUp);
    }
    const double reach = reachOf(prim, conditioning, span);
    // The triangle's corners, seen across and along the ray.
    double v[3][3];
    cornersOf(prim, v);
    double deepest = -INFINITY;
    for (int a = 0; a < 2; ++a) {
      p.lo[a] = INFINITY;
      p.hi[a] = -INFINITY;
    }
    for (const auto &corner : v) {
      for (int a = 0; a < 2; ++a) {
        const double at = dotOf(corner, across[a]);
        p.lo[a] = std::min(p.lo[a], at);
        p.hi[a] = std::max(p.hi[a], at);
      }
      deepest = std::max(deepest, dotOf(corner, z));
    }
    // A hit lies within `reach` of the triangle and, at t > 0, at most
    // `span + reach` from the ray's start, where the ray has drifted across
    // by at most `drift` per unit along it.
    const double grow = (reach * kUp + (span + reach) * drift + 3.0 * projection) * kUp;
    for (int a = 0; a < 2; ++a) {
      p.lo[a] -= grow;
      p.hi[a] += grow;
    }
    deepest += reach * kUp + 3.0 * projection;
    p.key = bvh::floatBelow(-deepest - 0x1p-40 * std::fabs(deepest));
    p.wide = false;
    widths.push_back(std::max(p.hi[0] - p.lo[0], p.hi[1] - p.lo[1]));
  }
  if (widths.empty()) {
    return std::nullopt;
  }
  double lo[2] = {INFINITY, INFINITY};
  double hi[2] = {-INFINITY, -INFINITY};
  for (const Placed &p : placed) {
    if (!p.wide) {
      for (int a = 0; a < 2; ++a) {
        lo[a] = std::min(lo[a], p.lo[a]);
        hi[a] = std::max(hi[a], p.hi[a]);
      }
    }
  }
  double binWidth =
      std::max(medianOf(widths) / (fine ? kFinerBins[0] : kBinsAcrossFootprint), 0x1p-30);
  const double cap = std::min(kMaxBins, kBinsPerPrim * double(prims.size()) + 64.0);
  const double area = (hi[0] - lo[0]) * (hi[1] - lo[1]);
  if (area / (binWidth * binWidth) > cap) {
    binWidth = std::sqrt(area / cap);
  }
  buffer.gridLo_[0] = lo[0];
  buffer.gridLo_[1] = lo[1];
  buffer.perBin_ = 1.0 / binWidth;

  std::vector<Footprint> footprints;
  footprints.reserve(widths.size());
  for (std::size_t i = 0; i < prims.size(); ++i) {
    const Placed &p = placed[i];
    Footprint f{std::uint32_t(i), p.key, 0, {0, 0}, {0, 0}};
    if (!p.wide) {
      for (int a = 0; a < 2; ++a) {
        binRange(p.lo[a], p.hi[a], buffer.gridLo_[a], buffer.perBin_, f.lo[a], f.hi[a]);
      }
    }
    const long long covered =
        (long long)(f.hi[0] - f.lo[0] + 1) * (long long)(f.hi[1] - f.lo[1] + 1);
    if (p.wide || tooWide(covered, prims.size())) {
      if (buffer.alwaysTested_.size() == kMaxAlwaysTested) {
        return std::nullopt;
      }
      buffer.alwaysTested_.push_back(std::uint32_t(i));
      continue;
    }
    footprints.push_back(f);
  }
  if (!buffer.fill(footprints, entryBudget(prims.size()))) {
    return std::nullopt;
  }
  return buffer;
}

std::optional<LightBuffer> LightBuffer::towardsPoint(const Vec3 &position,
                                                     const std::vector<Prim> &prims,
                                                     const Region &from, bool fine) {
  return aroundPoint(position, prims, from, false, fine);
}

std::optional<LightBuffer> LightBuffer::fromEye(const Vec3 &position,
                                                const std::vector<Prim> &prims, const Region &from,
                                                bool fine) {
  return aroundPoint(position, prims, from, true, fine);
}

std::optional<LightBuffer> LightBuffer::aroundPoint(const Vec3 &position,
                                                    const std::vector<Prim> &prims,
                                                    const Region &from, bool eye, bool fine) {
  const double light[3] = {position.x, position.y, position.z};
  const double largest =
      std::max({largestIn(from), std::fabs(light[0]), std::fabs(light[1]), std::fabs(light[2])});
  if (prims.empty() || !(largest <= kMaxCoordinate)) {
    return std::nullopt;
  }
  LightBuffer buffer;
  buffer.pointLight_ = true;
  buffer.eye_ = eye;
  buffer.from_ = from;
  std::copy(light, light + 3, buffer.light_);
  // The farthest point of the region from the light bounds |o - light|.
  double far[3];
  double diagonal[3];
  for (int a = 0; a < 3; ++a) {
    far[a] = std::max(std::fabs(from.lo[a] - light[a]), std::fabs(from.hi[a] - light[a]));
    diagonal[a] = double(from.hi[a]) - from.lo[a];
  }
  const double farthest = lengthOf(far) * kUp;
  const double span = lengthOf(diagonal) * kUp; // bounds |o - v0|
  buffer.maxEndGap_ = eye ? 0.0 : kEndGap * farthest;
  buffer.minDistance_ = eye ? 0.0 : kNearLight * farthest;
  // Towards a light |d| lies within the end gap of |o - light|; from the eye
  // it is at most kLongestFromEye.
  const double longest = eye ? kLongestFromEye : (farthest + buffer.maxEndGap_) * kUp;
  const double shortest = (buffer.minDistance_ - buffer.maxEndGap_) * kDown;
  // A query's o - light is formed in double: within 2^-52 (|o| + |light|)
  // per coordinate, which must stay far below the paddings of its bin.
  if (!eye && !(shortest >= bvh::kMinDirectionLength && largest <= 0x1p16 * buffer.minDistance_)) {
    return std::nullopt;
  }
  // Rounding of a difference with the light, or of a distance.
  const double rounding = 0x1p-48 * 3.0 * largest;
  const double towardsMiddle[3] = {0.5 * (double(from.lo[0]) + from.hi[0]) - light[0],
                                   0.5 * (double(from.lo[1]) + from.hi[1]) - light[1],
                                   0.5 * (double(from.lo[2]) + from.hi[2]) - light[2]};
  const double x[3] = {1.0, 0.0, 0.0};
  frameAlong(lengthOf(towardsMiddle) > 0.0 ? towardsMiddle : x, buffer.frame_);

  struct Placed {
    double axis[3]; // unit, from the light towards the prim
    double halfAngle;
    float key;
  };
  std::vector<Placed> placed(prims.size());
  buffer.sides_.assign(prims.size(), LightBuffer::Sides{{}, {INFINITY, INFINITY, INFINITY}});
  std::vector<double> angles;
  angles.reserve(prims.size());
  for (std::size_t i = 0; i < prims.size(); ++i) {
    const Prim &prim = prims[i];
    Placed &p = placed[i];
    p.halfAngle = INFINITY;
    if (isSphere(prim)) {
      continue;
    }
    // The conditioning from the determinant threshold, and from the
    // distance of the light to the triangle's plane (the ray ends within
    // the end gap of the light; docs/exact-acceleration.md, section 3).
    const double edges = bvh::lengthAbove(prim.b) * bvh::lengthAbove(prim.c) * kUp;
    const double threshold = bvh::kDeterminantInverse * longest * edges * kUp;
    double conditioning = threshold;
    double m[3];
    bvh::crossInDouble(prim.b, prim.c, m);
    const double mLength = lengthOf(m) * kDown;
    if (!eye && mLength > 0.0) {
      const double x[3] = {light[0] - prim.a.x, light[1] - prim.a.y, light[2] - prim.a.z};
      const double away = std::fabs(x[0]) + std::fabs(x[1]) + std::fabs(x[2]);
      // A lower bound: over the length rounded up.
      const double plane = std::max(
          0.0, std::fabs(dotOf(m, x)) / (lengthOf(m) * kUp) * (1.0 - 0x1p-48) - 0x1p-48 * away);
      const double aspect = std::max(1.0, edges / mLength * kUp);
      const double reachable = (plane / aspect * kDown - buffer.maxEndGap_) / longest * kDown;
      const double offPlane =
          5.0 * 0x1p-24 * (span * (1.0 + 2.0 * 0x1p-24 * threshold) / shortest + 1.0) * kUp;
      const double denominator = reachable - offPlane - 0x1p-22;
      if (denominator > 0.0) {
        conditioning = std::min(conditioning, 1.0 / denominator * kUp);
      }
    }
    const Ball ball = ballAround(prim);
    // From the eye, |o - v0| is known.
    const double v0[3] = {prim.a.x - light[0], prim.a.y - light[1], prim.a.z - light[2]};
    const double reach = reachOf(prim, conditioning, eye ? lengthOf(v0) * kUp : span);
    const double grown = (ball.radius + reach + buffer.maxEndGap_ + rounding) * kUp;
    const double g[3] = {ball.centre[0] - light[0], ball.centre[1] - light[1],
                         ball.centre[2] - light[2]};
    const double gLength = lengthOf(g);
    const double distance = gLength * kDown - rounding;
    // Nearer than the grown ball: a ray from as near the light as the ball
    // reaches could meet it.
    p.key = bvh::floatBelow(distance - grown - 0x1p-40 * (distance + grown));
    if (!(grown < distance * std::sin(kWideAngle))) {
      continue;
    }
    p.halfAngle = angleAbove(grown / distance) + 0x1p-30;
    buffer.sides_[i] = sidesOf(prim, light, distance - ball.radius,
                               (reach + buffer.maxEndGap_ + rounding) * kUp, largest);
    // In the frame's coordinates (orthonormal within 2^-50: angles move by
    // far less than the 2^-30 the bins are padded by).
    const double turned[3] = {dotOf(buffer.frame_[0], g), dotOf(buffer.frame_[1], g),
                              dotOf(buffer.frame_[2], g)};
    const double turnedLength = lengthOf(turned);
    for (int a = 0; a < 3; ++a) {
      p.axis[a] = turned[a] / turnedLength;
    }
    angles.push_back(p.halfAngle);
  }
  if (angles.empty()) {
    return std::nullopt;
  }
  // Near a face's centre a bin spans about 2 / bins radians.
  const double cap = std::min(kMaxBins, kBinsPerPrim * double(prims.size()) + 384.0);
  double bins = std::clamp(std::ceil((eye ? (fine ? kFinerBins[2] : kBinsAcrossEyeCone)
                                          : (fine ? kFinerBins[1] : kBinsAcrossCone)) /
                                     medianOf(angles)),
                           1.0, 0x1p20);
  buffer.gridLo_[0] = buffer.gridLo_[1] = -1.0;
  std::vector<Footprint> footprints;
  // Fewer bins when the faces' windows would hold too many.
  for (int attempt = 0;; ++attempt) {
    buffer.perBin_ = bins / 2.0;
    buffer.alwaysTested_.clear();
    footprints.clear();
    footprints.reserve(angles.size() * 2);
    // A face's points have their major coordinate at least 1 / sqrt(3) of the
    // length (less a margin for the roundings of the query's face choice).
    const double faceFloor = 0.577;
    for (std::size_t i = 0; i < prims.size(); ++i) {
      const Placed &p = placed[i];
      Footprint faces[6];
      int faceCount = 0;
      long long covered = 0;
      // Unit vectors within the half-angle of the axis are within this
      // distance of it, coordinate by coordinate.
      const double chord = p.halfAngle * kUp + 0x1p-30;
      for (int axis = 0; axis < 3 && std::isfinite(p.halfAngle); ++axis) {
        for (int sign = 0; sign < 2; ++sign) {
          const double major = sign == 0 ? p.axis[axis] : -p.axis[axis];
          const double majorHi = major + chord;
          if (majorHi < faceFloor) {
            continue;
          }
          const double majorLo = std::max(major - chord, faceFloor);
          Footprint f{std::uint32_t(i), p.key, 2 * axis + sign, {0, 0}, {0, 0}};
          bool touched = true;
          for (int k = 0; k < 2; ++k) {
            const double minor = p.axis[kAcross[axis][k]];
            const double minorLo = std::max(minor - chord, -1.0);
            const double minorHi = std::min(minor + chord, 1.0);
            // A face's directions have these coordinates in [-1, 1].
            const double lo =
                std::max(std::min(minorLo / majorLo, minorLo / majorHi) - 0x1p-30, -1.0);
            const double hi =
                std::min(std::max(minorHi / majorLo, minorHi / majorHi) + 0x1p-30, 1.0);
            touched = touched && lo <= hi;
            binRange(lo, hi, -1.0, buffer.perBin_, f.lo[k], f.hi[k]);
          }
          if (!touched) {
            continue;
          }
          faces[faceCount++] = f;
          covered += (long long)(f.hi[0] - f.lo[0] + 1) * (long long)(f.hi[1] - f.lo[1] + 1);
        }
      }
      if (!std::isfinite(p.halfAngle) || tooWide(covered, prims.size())) {
        if (buffer.alwaysTested_.size() == kMaxAlwaysTested) {
          return std::nullopt;
        }
        buffer.alwaysTested_.push_back(std::uint32_t(i));
        continue;
      }
      footprints.insert(footprints.end(), faces, faces + faceCount);
    }
    const double area = windowArea(footprints);
    if (area <= cap || attempt == 3) {
      break;
    }
    bins = std::max(1.0, std::floor(bins * std::sqrt(cap / area) * 0.95));
  }
  if (!buffer.fill(footprints, entryBudget(prims.size()))) {
    return std::nullopt;
  }
  return buffer;
}

bool LightBuffer::lookUpFromEye(const Ray &ray, Lookup &at) const {
  const Vec3 &o = ray.origin;
  if (!eye_ || !(o.x == float(light_[0])) || !(o.y == float(light_[1])) ||
      !(o.z == float(light_[2]))) {
    return false;
  }
  const double w[3] = {ray.direction.x, ray.direction.y, ray.direction.z};
  const double length = lengthOf(w);
  if (!(length <= kLongestFromEye * kDown && length >= bvh::kMinDirectionLength * kUp)) {
    return false;
  }
  at.begin = binAround(w, at.end);
  at.limit = length * (1.0 + 0x1p-38);
  std::copy(w, w + 3, at.from);
  return true;
}

const LightBuffer::Entry *LightBuffer::binAround(const double w[3], const Entry *&end) const {
  const double turned[3] = {dotOf(frame_[0], w), dotOf(frame_[1], w), dotOf(frame_[2], w)};
  const double size[3] = {std::fabs(turned[0]), std::fabs(turned[1]), std::fabs(turned[2])};
  const int axis = size[0] >= size[1] && size[0] >= size[2] ? 0 : (size[1] >= size[2] ? 1 : 2);
  const int face = 2 * axis + (turned[axis] < 0.0 ? 1 : 0);
  return binOf(face, (turned[kAcross[axis][0]] / size[axis] + 1.0) * perBin_,
               (turned[kAcross[axis][1]] / size[axis] + 1.0) * perBin_, end);
}

bool LightBuffer::lookUp(const Ray &ray, ShadowQuery kind, Lookup &at) const {
  // The kind first: every buffer a query passes by answers that cheaply.
  if (pointLight_ ? eye_ || kind != ShadowQuery::BeforeOne
                  : kind != ShadowQuery::TowardsDirection || !(ray.direction.x == direction_.x) ||
                        !(ray.direction.y == direction_.y) || !(ray.direction.z == direction_.z)) {
    return false;
  }
  const Vec3 &o = ray.origin;
  if (!inside(o, from_)) {
    return false;
  }
  if (pointLight_) {
    // The ray must end next to the light: o + d within the end gap of it.
    const double end[3] = {double(o.x) + ray.direction.x, double(o.y) + ray.direction.y,
                           double(o.z) + ray.direction.z};
    const double e[3] = {end[0] - light_[0], end[1] - light_[1], end[2] - light_[2]};
    const double endGap =
        lengthOf(e) * kUp + 0x1p-50 * (std::fabs(end[0]) + std::fabs(end[1]) + std::fabs(end[2]));
    if (!(endGap <= maxEndGap_)) {
      return false;
    }
    const double w[3] = {o.x - light_[0], o.y - light_[1], o.z - light_[2]};
    const double distance = lengthOf(w);
    if (!(distance * kDown >= minDistance_)) {
      return false;
    }
    at.begin = binAround(w, at.end);
    at.limit = distance * kUp;
    std::copy(w, w + 3, at.from);
  } else {
    const double p[3] = {o.x, o.y, o.z};
    at.begin = binOf(0, (dotOf(p, frame_[1]) - gridLo_[0]) * perBin_,
                     (dotOf(p, frame_[2]) - gridLo_[1]) * perBin_, at.end);
    at.limit = -dotOf(p, frame_[0]);
  }
  return true;
}
