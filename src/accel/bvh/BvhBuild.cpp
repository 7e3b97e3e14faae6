#include "accel/bvh/BvhBuild.h"

#include <algorithm>
#include <array>
#include <limits>
#include <span>
#include <utility>

#include "accel/bvh/BvhBounds.h"
#include "accel/bvh/TwoThreads.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using Node = BvhIntersector::Node;

constexpr int kBins = 16;
// Nodes below 64 shapes are binned into 8: 8-10% less building on the mesh
// benchmarks, within 0.2% of the instructions per ray (from 512, mesh5k
// loses 0.6%).
constexpr int kFewBins = 8;
constexpr std::uint32_t kFewBinsBelow = 64;
// Nodes of this many shapes or more are binned along their widest axis only:
// on mesh50k that saves 43% of the building and changes the instructions per
// ray by 0.3%; from 4096 on, mesh5k's root split gets worse (+2.5% per ray).
constexpr std::uint32_t kAllAxesBelow = 8192;
constexpr std::uint32_t kMaxLeaf = 8;
// Relative costs of one box test and one shape test, chosen by measurement
// (bench/instruction_counts.py) since boxes are tested four at a time: against
// 6, it saves 11% of the instructions per ray on spheres64 and 2% on mesh50k,
// leaves mesh5k even and costs 12% more building; 2 and 1 cost mesh5k 4% and
// 12%. Leaves of at most 4 shapes cost mesh5k 6%.
constexpr float kTraversalCost = 3.0f;
constexpr float kShapeCost = 1.0f;
// Below this depth splits are by surface area; deeper ones (only reached by
// very lopsided scenes) split at the median, which bounds the tree depth.
constexpr int kSahDepth = 40;
static_assert(kMaxLeaf <= BvhIntersector::kCountMask, "a leaf's count must fit its bit field");
// Median splits halve fewer than 2^32 shapes at most 32 times; a query's
// stack holds at most one more node than the tree is deep.
static_assert(kSahDepth + 32 + 1 < BvhIntersector::kStackSize, "the stack must outlast the tree");

struct Box {
  float lo[3] = {INFINITY, INFINITY, INFINITY};
  float hi[3] = {-INFINITY, -INFINITY, -INFINITY};

  void grow(const float *l, const float *h) {
    for (int i = 0; i < 3; ++i) {
      lo[i] = std::min(lo[i], l[i]);
      hi[i] = std::max(hi[i], h[i]);
    }
  }
  void grow(const Box &b) { grow(b.lo, b.hi); }
  float area() const {
    const float x = hi[0] - lo[0];
    const float y = hi[1] - lo[1];
    const float z = hi[2] - lo[2];
    if (!(x >= 0.0f)) {
      return 0.0f;
    }
    return x * y + y * z + z * x;
  }
};

class Builder {
public:
  Builder(std::vector<BvhBuildBox> boxes, const std::vector<BvhBuildItem> &items,
          std::vector<Node> &nodes, const BvhOptions &options)
      : items_(items), nodes_(nodes), parallelFrom_(options.parallelBuildFrom),
        fourLanes_(options.fourLaneBuild), refs_(std::move(boxes)) {}

  std::vector<std::uint32_t> run() {
    nodes_.clear();
    nodes_.reserve(items_.size() / 2 + 1);
    build(nodes_, 0, std::uint32_t(items_.size()), 0);
    summarise();
    std::vector<std::uint32_t> order(refs_.size());
    for (std::size_t i = 0; i < refs_.size(); ++i) {
      order[i] = refs_[i].id;
    }
    // The boxes are the largest thing the build holds: let them go before the
    // caller makes its prims.
    std::vector<Ref>().swap(refs_);
    return order;
  }

private:
  // Appends the node for refs_[begin, end) and its subtree to `out`, with
  // child indices relative to the start of `out`.
  void build(std::vector<Node> &out, std::uint32_t begin, std::uint32_t end, int depth) {
    const std::uint32_t self = std::uint32_t(out.size());
    out.emplace_back();
    Box bounds;
    Box centroidBounds;
    measure(begin, end, bounds, centroidBounds);
    {
      Node &node = out[self];
      std::copy(bounds.lo, bounds.lo + 3, node.lo);
      std::copy(bounds.hi, bounds.hi + 3, node.hi);
    }

    const std::uint32_t count = end - begin;
    int axis = 0;
    std::uint32_t middle = 0;
    if (!chooseSplit(begin, end, depth, bounds, centroidBounds, axis, middle)) {
      Node &node = out[self];
      node.index = begin;
      node.meta = std::uint8_t(count);
      return;
    }
    out[self].meta = std::uint8_t(axis << BvhIntersector::kAxisShift);
    if (depth == 0 && count >= parallelFrom_) {
      buildHalvesInParallel(out, begin, middle, end);
      return;
    }
    build(out, begin, middle, depth + 1);
    out[self].index = std::uint32_t(out.size());
    build(out, middle, end, depth + 1);
  }

  // The box of refs_[begin, end) and the box of their centroids. With SSE2
  // in four-lane steps: _mm_min_ps(x, m) is x < m ? x : m, which is
  // std::min(m, x) in every case (signed zeros included), so the boxes are
  // the same.
  void measure(std::uint32_t begin, std::uint32_t end, Box &bounds, Box &centroids) const {
#if defined(__SSE2__)
    if (fourLanes_) {
      measureFourLanes(begin, end, bounds, centroids);
      return;
    }
#endif
    for (std::uint32_t i = begin; i < end; ++i) {
      const Ref &ref = refs_[i];
      bounds.grow(ref.lo, ref.hi);
      const float centre[3] = {ref.centroid(0), ref.centroid(1), ref.centroid(2)};
      centroids.grow(centre, centre);
    }
  }

#if defined(__SSE2__)
  void measureFourLanes(std::uint32_t begin, std::uint32_t end, Box &bounds, Box &centroids) const {
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 firstThree = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
    __m128 lo = _mm_set1_ps(INFINITY);
    __m128 hi = _mm_set1_ps(-INFINITY);
    __m128 centreLo = lo;
    __m128 centreHi = hi;
    for (std::uint32_t i = begin; i < end; ++i) {
      const Ref &ref = refs_[i];
      const __m128 refLo = _mm_loadu_ps(ref.lo); // lo[0..2], hi[0]
      const __m128 refHi = _mm_and_ps(_mm_loadu_ps(ref.hi), firstThree);
      const __m128 centre = _mm_add_ps(_mm_mul_ps(half, refLo), _mm_mul_ps(half, refHi));
      lo = _mm_min_ps(refLo, lo);
      hi = _mm_max_ps(refHi, hi);
      centreLo = _mm_min_ps(centre, centreLo);
      centreHi = _mm_max_ps(centre, centreHi);
    }
    alignas(16) float lanes[4][4];
    _mm_store_ps(lanes[0], lo);
    _mm_store_ps(lanes[1], hi);
    _mm_store_ps(lanes[2], centreLo);
    _mm_store_ps(lanes[3], centreHi);
    bounds.grow(lanes[0], lanes[1]);
    centroids.grow(lanes[2], lanes[3]);
  }
#endif

  // Builds the root's two subtrees on two threads, the first straight into
  // `out` after the root and the second into a vector of its own, appended
  // after it. Until both are done only the first thread touches `out`.
  void buildHalvesInParallel(std::vector<Node> &out, std::uint32_t begin, std::uint32_t middle,
                             std::uint32_t end) {
    const std::uint32_t root = std::uint32_t(out.size()) - 1;
    std::vector<Node> second;
    second.reserve((end - middle) / 2 + 1);
    inTwoThreads([&] { build(out, begin, middle, 1); }, [&] { build(second, middle, end, 1); });
    out[root].index = std::uint32_t(out.size());
    appendShifted(out, second);
  }

  // Appends a subtree built in its own vector, moving its child indices.
  static void appendShifted(std::vector<Node> &out, const std::vector<Node> &subtree) {
    const std::uint32_t offset = std::uint32_t(out.size());
    for (Node node : subtree) {
      if ((node.meta & BvhIntersector::kCountMask) == 0) {
        node.index += offset;
      }
      out.push_back(node);
    }
  }

  struct Bin {
    Box box;
    std::uint32_t count = 0;
  };
  using Bins = std::array<std::array<Bin, kBins>, 3>;

  // The cheapest split found: below the bin `bin` of `axis` and above it.
  struct SplitChoice {
    float cost = std::numeric_limits<float>::infinity();
    int axis = -1;
    int bin = 0;
  };

  // Adds each ref of [begin, end) to its bin along each axis of non-zero
  // scale: bin = (centroid - lo) * scale, clamped to the bins.
  void binEachAxis(std::uint32_t begin, std::uint32_t end, int binCount, const float lo[3],
                   const float scale[3], Bins &bins) const {
    for (std::uint32_t i = begin; i < end; ++i) {
      const Ref &ref = refs_[i];
      for (int a = 0; a < 3; ++a) {
        if (scale[a] == 0.0f) {
          continue;
        }
        int b = int((ref.centroid(a) - lo[a]) * scale[a]);
        b = std::clamp(b, 0, binCount - 1);
        bins[a][b].box.grow(ref.lo, ref.hi);
        ++bins[a][b].count;
      }
    }
  }

  // Sweeps the bins of each axis of non-zero scale from both ends for the
  // split of least surface area cost.
  static SplitChoice cheapestSplit(const Bins &bins, int binCount, const float scale[3]) {
    SplitChoice best;
    for (int a = 0; a < 3; ++a) {
      if (scale[a] == 0.0f) {
        continue;
      }
      std::array<float, kBins> rightArea{};
      std::array<std::uint32_t, kBins> rightCount{};
      Box right;
      std::uint32_t n = 0;
      for (int b = binCount - 1; b > 0; --b) {
        right.grow(bins[a][b].box);
        n += bins[a][b].count;
        rightArea[b] = right.area();
        rightCount[b] = n;
      }
      Box left;
      n = 0;
      for (int b = 0; b < binCount - 1; ++b) {
        left.grow(bins[a][b].box);
        n += bins[a][b].count;
        if (n == 0 || rightCount[b + 1] == 0) {
          continue;
        }
        const float cost = left.area() * float(n) + rightArea[b + 1] * float(rightCount[b + 1]);
        if (cost < best.cost) {
          best = {cost, a, b};
        }
      }
    }
    return best;
  }

#if defined(__SSE2__)
  // Box::area of a box held in four lanes (the fourth ignored): the same
  // float operations in the same order.
  static float areaOf(__m128 lo, __m128 hi) {
    alignas(16) float d[4];
    _mm_store_ps(d, _mm_sub_ps(hi, lo));
    if (!(d[0] >= 0.0f)) {
      return 0.0f;
    }
    return d[0] * d[1] + d[1] * d[2] + d[2] * d[0];
  }

  // binEachAxis and cheapestSplit in four-lane steps: along all three axes
  // at once (an axis of scale 0 gathers everything in its first bin and is
  // then skipped), or along `axis` alone when the others have scale 0. The
  // centroids, bins, box updates and areas are the same float operations, so
  // the choice is the same; no per-axis Box is made or copied, which for the
  // many small nodes cost more than the binning.
  template <bool kOneAxis>
  SplitChoice binFourLanes(std::uint32_t begin, std::uint32_t end, int binCount, const float lo[3],
                           const float scale[3], int axis) const {
    const int firstAxis = kOneAxis ? axis : 0;
    const int endAxis = kOneAxis ? axis + 1 : 3;
    struct alignas(16) FourBin {
      __m128 lo;
      __m128 hi;
    };
    const __m128 empty = _mm_set1_ps(INFINITY);
    const __m128 emptyHi = _mm_set1_ps(-INFINITY);
    FourBin boxes[3][kBins];
    std::uint32_t counts[3][kBins];
    for (int a = firstAxis; a < endAxis; ++a) {
      for (int b = 0; b < binCount; ++b) {
        boxes[a][b] = {empty, emptyHi};
        counts[a][b] = 0;
      }
    }
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 low = _mm_setr_ps(lo[0], lo[1], lo[2], 0.0f);
    const __m128 scales = _mm_setr_ps(scale[0], scale[1], scale[2], 0.0f);
    const __m128 top = _mm_set1_ps(float(binCount - 1));
    // The fourth lane of a ref's hi holds its id: cleared before any arithmetic.
    const __m128 firstThree = _mm_castsi128_ps(_mm_setr_epi32(-1, -1, -1, 0));
    for (std::uint32_t i = begin; i < end; ++i) {
      const Ref &ref = refs_[i];
      const __m128 refLo = _mm_loadu_ps(ref.lo); // lo[0..2], hi[0]
      const __m128 refHi = _mm_and_ps(_mm_loadu_ps(ref.hi), firstThree);
      const __m128 centre = _mm_add_ps(_mm_mul_ps(half, refLo), _mm_mul_ps(half, refHi));
      const __m128 at = _mm_mul_ps(_mm_sub_ps(centre, low), scales);
      // Clamped before the truncation: the same bin as clamping after it.
      alignas(16) std::int32_t bin[4];
      _mm_store_si128(reinterpret_cast<__m128i *>(bin),
                      _mm_cvttps_epi32(_mm_min_ps(_mm_max_ps(at, _mm_setzero_ps()), top)));
      for (int a = firstAxis; a < endAxis; ++a) {
        FourBin &box = boxes[a][bin[a]];
        box.lo = _mm_min_ps(refLo, box.lo); // std::min(box.lo, refLo), as measure() says
        box.hi = _mm_max_ps(refHi, box.hi);
        ++counts[a][bin[a]];
      }
    }
    SplitChoice best;
    for (int a = firstAxis; a < endAxis; ++a) {
      if (scale[a] == 0.0f) {
        continue;
      }
      float rightArea[kBins];
      std::uint32_t rightCount[kBins];
      __m128 growLo = empty;
      __m128 growHi = emptyHi;
      std::uint32_t n = 0;
      for (int b = binCount - 1; b > 0; --b) {
        growLo = _mm_min_ps(boxes[a][b].lo, growLo);
        growHi = _mm_max_ps(boxes[a][b].hi, growHi);
        n += counts[a][b];
        rightArea[b] = areaOf(growLo, growHi);
        rightCount[b] = n;
      }
      growLo = empty;
      growHi = emptyHi;
      n = 0;
      for (int b = 0; b < binCount - 1; ++b) {
        growLo = _mm_min_ps(boxes[a][b].lo, growLo);
        growHi = _mm_max_ps(boxes[a][b].hi, growHi);
        n += counts[a][b];
        if (n == 0 || rightCount[b + 1] == 0) {
          continue;
        }
        const float cost =
            areaOf(growLo, growHi) * float(n) + rightArea[b + 1] * float(rightCount[b + 1]);
        if (cost < best.cost) {
          best = {cost, a, b};
        }
      }
    }
    return best;
  }
#endif

  // Picks a split of refs_[begin, end) and partitions it; false for a leaf.
  bool chooseSplit(std::uint32_t begin, std::uint32_t end, int depth, const Box &bounds,
                   const Box &centroidBounds, int &axis, std::uint32_t &middle) {
    const std::uint32_t count = end - begin;
    if (count <= 1) {
      return false;
    }
    axis = 0;
    for (int a = 1; a < 3; ++a) {
      if (centroidBounds.hi[a] - centroidBounds.lo[a] >
          centroidBounds.hi[axis] - centroidBounds.lo[axis]) {
        axis = a;
      }
    }
    const bool flat = !(centroidBounds.hi[axis] > centroidBounds.lo[axis]);
    if (flat || depth >= kSahDepth) {
      if (count <= kMaxLeaf) {
        return false;
      }
      // Coincident centroids or a lopsided scene: halve by position.
      middle = begin + count / 2;
      if (!flat) {
        std::nth_element(
            refs_.begin() + begin, refs_.begin() + middle, refs_.begin() + end,
            [&](const Ref &x, const Ref &y) { return x.centroid(axis) < y.centroid(axis); });
      }
      return true;
    }

    // Small nodes get fewer bins: the sweeps below cost per bin.
    const int binCount = count < kFewBinsBelow ? kFewBins : kBins;
    // Large nodes are binned along their widest axis only (a third of the
    // work where most of it lies); a scale of 0 leaves an axis out.
    float scale[3];
    for (int a = 0; a < 3; ++a) {
      const float extent = centroidBounds.hi[a] - centroidBounds.lo[a];
      const bool binned = count < kAllAxesBelow || a == axis;
      // An extent so small that the scale overflows (centroids a subnormal
      // distance apart) is left out like a flat one: an infinite scale would
      // put the lowest centroid, at 0 * inf, in no defined bin.
      const float perUnit = float(binCount) * 0.99999f / extent;
      scale[a] =
          extent > 0.0f && binned && perUnit <= std::numeric_limits<float>::max() ? perUnit : 0.0f;
    }
    SplitChoice best;
#if defined(__SSE2__)
    if (fourLanes_) {
      best = count < kAllAxesBelow
                 ? binFourLanes<false>(begin, end, binCount, centroidBounds.lo, scale, axis)
                 : binFourLanes<true>(begin, end, binCount, centroidBounds.lo, scale, axis);
    } else
#endif
    {
      Bins bins;
      binEachAxis(begin, end, binCount, centroidBounds.lo, scale, bins);
      best = cheapestSplit(bins, binCount, scale);
    }

    const float area = bounds.area();
    const float leafCost = kShapeCost * float(count);
    const float splitCost = area > 0.0f ? kTraversalCost + kShapeCost * best.cost / area : leafCost;
    if (best.axis < 0 || (count <= kMaxLeaf && leafCost <= splitCost)) {
      if (count <= kMaxLeaf) {
        return false;
      }
      middle = begin + count / 2;
      return true;
    }
    axis = best.axis;
    const float lo = centroidBounds.lo[axis];
    const float s = scale[axis];
    const auto split =
        std::partition(refs_.begin() + begin, refs_.begin() + end, [&](const Ref &ref) {
          const int b = std::clamp(int((ref.centroid(axis) - lo) * s), 0, binCount - 1);
          return b <= best.bin;
        });
    middle = std::uint32_t(split - refs_.begin());
    if (middle == begin || middle == end) {
      middle = begin + count / 2;
    }
    return true;
  }

  // A cone of unit vectors (sign ignored) around a quantised axis.
  struct Cone {
    bool empty = true;  // no triangle below
    bool valid = false; // axis and spread bound every normal below
    std::int8_t axis[3] = {0, 0, 0};
    std::uint8_t spread = BvhIntersector::kNoCone;
  };

  // Fills in, from the leaves up, what the ray-dependent inflation needs:
  // the sphere flag, the largest |e1| |e2| and aspect, and the normal cone.
  // The root's two subtrees, each a range of nodes, may take a thread each.
  void summarise() {
    std::vector<Cone> cones(nodes_.size());
    const Node &root = nodes_[0];
    if (!root.isLeaf() && items_.size() >= parallelFrom_) {
      const std::size_t second = root.secondChild();
      inTwoThreads([&] { summarise(cones, second, nodes_.size()); },
                   [&] { summarise(cones, 1, second); });
      summarise(cones, 0, 1);
    } else {
      summarise(cones, 0, nodes_.size());
    }
  }

  // Summarises nodes_[begin, end), children first (they come after their parent).
  void summarise(std::vector<Cone> &cones, std::size_t begin, std::size_t end) {
    for (std::size_t n = end; n-- > begin;) {
      Node &node = nodes_[n];
      const std::uint32_t count = node.meta & BvhIntersector::kCountMask;
      Cone &cone = cones[n];
      if (count > 0) {
        double gap = 0.0;
        double aspect = 0.0;
        bool sphere = false;
        std::array<const float *, BvhIntersector::kCountMask> normals{};
        std::size_t normalCount = 0;
        for (std::uint32_t i = node.index; i < node.index + count; ++i) {
          const BvhBuildItem &item = items_[refs_[i].id];
          gap = std::max(gap, double(item.gap));
          sphere = sphere || item.sphere;
          if (!item.sphere) {
            aspect = std::max(aspect, double(item.aspect));
            normals[normalCount++] = item.normal;
          }
        }
        node.gap = bvh::encodeAbove(gap);
        node.aspect = bvh::encodeAspect(aspect);
        node.meta = std::uint8_t(node.meta | (sphere ? BvhIntersector::kHoldsSphere : 0));
        cone = coneAround(std::span(normals.data(), normalCount));
      } else {
        const Node &first = nodes_[n + 1];
        const Node &second = nodes_[node.index];
        node.gap = std::max(first.gap, second.gap);
        node.aspect = std::max(first.aspect, second.aspect);
        node.meta =
            std::uint8_t(node.meta | ((first.meta | second.meta) & BvhIntersector::kHoldsSphere));
        cone = mergeCones(cones[n + 1], cones[node.index]);
      }
      if (node.aspect == bvh::kAspectUnknown || !cone.valid) {
        cone.valid = cone.empty;
      }
      store(cone, node);
    }
  }

  static void unitAxis(const std::int8_t q[3], double out[3]) {
    const double length =
        std::sqrt(double(q[0]) * q[0] + double(q[1]) * q[1] + double(q[2]) * q[2]);
    for (int a = 0; a < 3; ++a) {
      out[a] = q[a] / length;
    }
  }

  // min(|v - a|, |v + a|) for unit a.
  static double signlessDistance(const double v[3], const double a[3]) {
    double minus = 0.0;
    double plus = 0.0;
    for (int i = 0; i < 3; ++i) {
      minus += (v[i] - a[i]) * (v[i] - a[i]);
      plus += (v[i] + a[i]) * (v[i] + a[i]);
    }
    return std::sqrt(std::min(minus, plus));
  }

  // Quantises the direction of `sum` to the node's axis; false if it vanishes.
  static bool quantiseAxis(const double sum[3], Cone &cone) {
    const double length = std::sqrt(sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]);
    if (!(length > 0.0)) {
      return false;
    }
    for (int a = 0; a < 3; ++a) {
      cone.axis[a] = std::int8_t(std::lround(sum[a] / length * 127.0));
    }
    return cone.axis[0] != 0 || cone.axis[1] != 0 || cone.axis[2] != 0;
  }

  static void setSpread(double spread, Cone &cone) {
    const double steps = std::ceil(spread / bvh::kSpreadStep);
    cone.valid = steps < double(BvhIntersector::kNoCone);
    cone.spread = cone.valid ? std::uint8_t(steps) : BvhIntersector::kNoCone;
  }

  // The stored normals are within 2^-24 of the exact unit normals (a float
  // rounding of each component); the spread's 2^-22 covers that.
  static Cone coneAround(std::span<const float *const> normals) {
    Cone cone;
    if (normals.empty()) {
      return cone;
    }
    cone.empty = false;
    double sum[3] = {0.0, 0.0, 0.0};
    for (const float *n : normals) {
      const double sign =
          n[0] * normals[0][0] + n[1] * normals[0][1] + n[2] * normals[0][2] < 0.0 ? -1.0 : 1.0;
      for (int a = 0; a < 3; ++a) {
        sum[a] += sign * n[a];
      }
      if (n[0] == 0.0 && n[1] == 0.0 && n[2] == 0.0) {
        return cone; // degenerate triangle: no cone
      }
    }
    if (!quantiseAxis(sum, cone)) {
      return cone;
    }
    double axis[3];
    unitAxis(cone.axis, axis);
    double spread = 0.0;
    for (const float *n : normals) {
      const double normal[3] = {n[0], n[1], n[2]};
      spread = std::max(spread, signlessDistance(normal, axis));
    }
    setSpread(spread + 0x1p-22, cone);
    return cone;
  }

  static Cone mergeCones(const Cone &first, const Cone &second) {
    if (first.empty) {
      return second;
    }
    if (second.empty) {
      return first;
    }
    Cone cone;
    cone.empty = false;
    if (!first.valid || !second.valid) {
      return cone;
    }
    double a[3];
    double b[3];
    unitAxis(first.axis, a);
    unitAxis(second.axis, b);
    const double sign = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] < 0.0 ? -1.0 : 1.0;
    const double sum[3] = {a[0] + sign * b[0], a[1] + sign * b[1], a[2] + sign * b[2]};
    if (!quantiseAxis(sum, cone)) {
      return cone;
    }
    double axis[3];
    unitAxis(cone.axis, axis);
    double spread = 0.0;
    for (const Cone *child : {&first, &second}) {
      double childAxis[3];
      unitAxis(child->axis, childAxis);
      // Identical quantised axes are exactly at distance 0.
      const bool same = std::equal(child->axis, child->axis + 3, cone.axis);
      const double offset = same ? 0.0 : signlessDistance(childAxis, axis) + 0x1p-30;
      spread = std::max(spread, offset + child->spread * bvh::kSpreadStep);
    }
    setSpread(spread, cone);
    return cone;
  }

  static void store(const Cone &cone, Node &node) {
    std::copy(cone.axis, cone.axis + 3, node.coneAxis);
    node.coneSpread = cone.valid && !cone.empty ? cone.spread : BvhIntersector::kNoCone;
  }

  const std::vector<BvhBuildItem> &items_;
  std::vector<Node> &nodes_;
  std::uint32_t parallelFrom_;
  bool fourLanes_;
  // What binning and partitioning read, kept together and moved in place.
  using Ref = BvhBuildBox;
  std::vector<Ref> refs_;
};

} // namespace

std::vector<std::uint32_t> buildBvh(std::vector<BvhBuildBox> boxes,
                                    const std::vector<BvhBuildItem> &items,
                                    std::vector<BvhIntersector::Node> &nodes,
                                    const BvhOptions &options) {
  return Builder(std::move(boxes), items, nodes, options).run();
}
