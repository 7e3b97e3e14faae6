#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "accel/Intersector.h"
#include "accel/ListIntersector.h"
#include "accel/flat/FlatIntersector.h"

struct BvhWideNode;
struct WideRay;
class LightBuffer;

// How the hierarchy is built and walked; the defaults are what the program uses.
struct BvhOptions {
  // Queries test four child boxes at a time in float where the processor has
  // SSE2 (every x86-64 one); false, or without SSE2: one box at a time in double.
  bool wideNodes = true;
  // The wide walks test a leaf of three or more triangles with the flat kernels
  // of this level, several at a time; Scalar: one shape at a time.
  SimdLevel leafLevel = supportedSimdLevel();
  // Leaves the kernels test are kept in their block layout, ready to test,
  // when the hierarchy holds at most this many shapes (50 to 65 bytes more
  // per triangle); in larger scenes each leaf is copied into blocks when a
  // query visits it. The answers are the same.
  std::size_t storedLeavesUpTo = 262144;
  // From this many shapes the building is shared by two threads.
  std::uint32_t parallelBuildFrom = 20000;
  // The builder measures and bins boxes four lanes at a time where the
  // processor has SSE2; false: one box at a time. The tree is the same.
  bool fourLaneBuild = true;
  // Where the scene's point lights are (the first kMaxLights count). Shadow
  // rays ending near one bound their conditioning by how far the light lies
  // from the triangles' planes; any ray stays exact, only the speed differs.
  std::vector<Vec3> pointLights = {};
  // Where the scene's direction lights are (the direction towards them).
  std::vector<Vec3> directionLights = {};
  // Shadow rays towards each of these lights (the first kMaxLights of each
  // kind) are answered from a light buffer in scenes of up to this many
  // shapes; in larger ones, or with 0, by the hierarchy. The answers are
  // the same.
  std::size_t lightBuffersUpTo = 262144;
  // Where the camera is: nearest-hit rays from it are answered from a
  // buffer like a point light's (when `eyeBuffer` and the scene gets light
  // buffers). The answers are the same.
  Vec3 eye = {};
  bool eyeBuffer = false;
  // The pixels of the image the hierarchy serves (0: not known). Making a
  // light buffer costs about as much per shape as a few hundred queries
  // save, so the buffers are made only when the image has at least half as
  // many pixels as the hierarchy has shapes (a pixel makes a ray from the
  // eye and at least one shadow ray per light), with finer bins from 32
  // pixels per shape.
  std::size_t pixels = 0;
  // From this many shapes the lights' buffers are made on two threads.
  std::size_t parallelLightBuffersFrom = 2000;
};

// A bounding volume hierarchy over a shape list that answers exactly as
// the list walk does. Boxes are inflated by a bound on how far the float
// arithmetic can place a reported hit from the true shape (part of it
// depends on the ray, so nodes keep the magnitudes it needs), the slab test
// rounds outwards, and a node is skipped only when its conservative entry
// parameter lies strictly beyond the best hit. Hits are ranked by
// (parameter, list position), which is the list walk's tie-break. Shapes and
// rays the error analysis does not cover are handled by the list walk.
// See docs/exact-acceleration.md.
class BvhIntersector final : public Intersector {
public:
  // `shapes` is the head of the shape list.
  explicit BvhIntersector(const Shape *shapes, const BvhOptions &options = {});
  ~BvhIntersector() override;
  BvhIntersector(const BvhIntersector &) = delete;
  BvhIntersector &operator=(const BvhIntersector &) = delete;

  // Whether queries use the four-child nodes.
  bool usesWideNodes() const { return !wide_.empty(); }

  Hit nearest(const Ray &ray) const override;
  bool blocked(const Ray &ray, ShadowQuery kind) const override;

  // The same queries, counting the box and shape tests they make (for
  // benchmarks; queries the list walk answers count nothing).
  struct TestCounts {
    long long boxes = 0;
    long long shapes = 0;
  };
  Hit nearest(const Ray &ray, TestCounts &counts) const;
  bool blocked(const Ray &ray, ShadowQuery kind, TestCounts &counts) const;

  static constexpr std::uint8_t kCountMask = 15;
  static constexpr int kAxisShift = 4;
  static constexpr std::uint8_t kHoldsSphere = 64;
  static constexpr std::uint8_t kNoCone = 255;
  // Pending nodes a query can hold: one more than the tree's depth (three
  // times that with four children per node).
  static constexpr int kStackSize = 128;
  static constexpr int kWideStackSize = 3 * kStackSize;

  // 36 bytes. Inner nodes have count 0; their first child follows them and
  // `index` is the second child. Leaves hold prims [index, index + count).
  // The cone fields bound the triangles' unit normals n: for every triangle
  // below, min(|n - a|, |n + a|) <= coneSpread / 64 with a = coneAxis / |coneAxis|.
  struct Node {
    float lo[3];
    float hi[3];
    std::uint32_t index;
    std::uint8_t meta;       // count in bits 0-3, split axis in bits 4-5, kHoldsSphere
    std::int8_t coneAxis[3]; // quantised; see above
    std::uint16_t gap;       // top half of a float >= max |e1| |e2|
    std::uint8_t coneSpread; // kNoCone when the normals do not fit a cone
    std::uint8_t aspect;     // 2^(aspect / 16) >= max |e1| |e2| / |e1 x e2|

    bool isLeaf() const { return (meta & kCountMask) != 0; }
    std::uint32_t primCount() const { return meta & kCountMask; } // 0 for inner nodes
    std::uint32_t firstPrim() const { return index; }             // leaves only
    std::uint32_t secondChild() const { return index; }           // inner nodes only
    int splitAxis() const { return meta >> kAxisShift & 3; }
    bool holdsSphere() const { return (meta & kHoldsSphere) != 0; }
    bool hasCone() const { return coneSpread != kNoCone; }
  };

  // A shape's geometry in leaf order: a triangle's vertex0, edge1, edge2, or
  // a sphere's centre and (in b.x) radius.
  struct Prim {
    Vec3 a;
    Vec3 b;
    Vec3 c;
    std::uint32_t position; // list position, kSphereBit set for spheres
  };
  static constexpr std::uint32_t kSphereBit = 0x80000000u;

  // Shapes in the hierarchy and shapes always tested by the list walk.
  std::size_t hierarchyShapeCount() const { return prims_.size(); }
  std::size_t alwaysTestedCount() const { return alwaysTested_.size(); }
  // Triangles set aside from the light tables, over all lights.
  std::size_t setAsideCount() const { return setAside_.size(); }
  // The light buffers made, direction lights' first, and the eye's.
  const std::vector<LightBuffer> &lightBuffers() const { return lightBuffers_; }
  const std::vector<LightBuffer> &eyeBuffer() const { return eyeBuffer_; }
  // Bytes held for the hierarchy: nodes, prims and their shape pointers,
  // and the light buffers.
  std::size_t memoryBytes() const;
  // The nodes (root first) and prims in leaf order, for inspection.
  const std::vector<Node> &nodes() const { return nodes_; }
  const std::vector<Prim> &prims() const { return prims_; }
  // Each light's plane distances, one per node, light after light.
  const std::vector<float> &lightPlanes() const { return lightPlanes_; }
  // The bound the box test uses on |d| |e1| |e2| / |det| for any triangle
  // below `node` whose determinant reaches the 0.01 threshold.
  static double conditioningBound(const Node &node, const Vec3 &direction);
  // Empty when the tree is sound, else its first fault: a child box not
  // inside its parent's, leaf ranges that do not partition the prims in
  // order, a node without prims, or a tree deeper than the traversal stack.
  std::string treeFault() const;

  // What the ray-dependent inflation needs of a node, worked out once when
  // the tree is built (see docs/exact-acceleration.md, section 5).
  struct NodeReach {
    float gap;              // decoded gap, >= max |e1| |e2| below
    float axisOverAspect;   // <= 1 / (|coneAxis| aspect); 0 without a cone
    float spreadOverAspect; // >= (coneSpread / 64 + 2^-40) / aspect; +inf without a cone
    float negligible;       // an inherited reach up to this is kept: 2^-6 of the largest extent
  };
  static NodeReach reachOf(const Node &node);

  // Point lights that get a table of plane distances (one float per node).
  static constexpr std::size_t kMaxLights = 8;
  // Per light, the triangles whose plane passes so near the light that
  // shadow rays towards it would meet them with a conditioning above
  // kSetAsideConditioning are left out of its table when there are at most
  // kMaxSetAside of them (they would keep a large reach in every node above
  // them); such rays test them first. Any choice is exact; these are measured.
  static constexpr std::size_t kMaxSetAside = 8;
  static constexpr double kSetAsideConditioning = 0x1p13;
  // The bound the shadow test towards a point light uses on the
  // conditioning of prim `prim` below node `index` if it reports a hit with
  // 0 < t < 1 (docs/exact-acceleration.md, section 3): the smaller of
  // conditioningBound's and the one from the light planes; infinite for a
  // set-aside prim. `span` is at least |o - v0| for every prim below.
  double conditioningTowardsLight(std::uint32_t index, std::uint32_t prim, const Ray &ray,
                                  double span) const;

private:
  struct RayBounds;
  struct Listed {
    const Shape *shape;
    std::uint32_t position;
  };

  // False when the list walk must answer: no hierarchy, or a ray outside
  // the error analysis.
  bool usable(const Ray &ray, RayBounds &bounds) const;
  // Whether the four-lane test may take this ray: no direction component so
  // small (but not zero) that its float reciprocal could overflow.
  bool wideUsable(const RayBounds &bounds) const;
  template <bool count, class Beyond, class AtShape, class SecondChildNearer>
  bool walkOneBoxAtATime(const RayBounds &bounds, TestCounts &counts, Beyond beyond,
                         AtShape atShape, SecondChildNearer secondChildNearer) const;
  template <bool count> Hit nearestIn(const Ray &ray, TestCounts &counts) const;
  template <bool count>
  void nearestWide(const Ray &ray, const flat::RayConstants &leafRay, const RayBounds &bounds,
                   RankedHit &best, TestCounts &counts) const;
  template <ShadowQuery kind, bool count>
  bool blockedInHierarchy(const Ray &ray, const RayBounds &bounds, TestCounts &counts) const;
  struct LightPlanes;
  template <ShadowQuery kind, bool count>
  bool blockedWide(const Ray &ray, const flat::RayConstants &leafRay, const RayBounds &bounds,
                   const LightPlanes &light, TestCounts &counts) const;
  // The four-lane walks, with the lane test chosen once per ray: whether any
  // direction component is zero.
  template <bool count, bool anyParallel>
  void nearestWideWith(const Ray &ray, const flat::RayConstants &leafRay, const RayBounds &bounds,
                       const WideRay &lanes, RankedHit &best, TestCounts &counts) const;
  template <ShadowQuery kind, bool count, bool anyParallel>
  bool blockedWideWith(const Ray &ray, const flat::RayConstants &leafRay, const RayBounds &bounds,
                       const WideRay &lanes, const LightPlanes &light, TestCounts &counts) const;
  template <bool count> bool blockedIn(const Ray &ray, ShadowQuery kind, TestCounts &counts) const;
  // The plane distances of the light nearest the ray's end, or none.
  LightPlanes lightPlanesFor(const Ray &ray) const;
  // Fills lightPlanes_ and setAside_; on two threads when `parallel`.
  void measureLightPlanes(const std::vector<Vec3> &lights, bool parallel);
  // The leaf of `count` prims from `first` copied into blocks for the flat
  // kernels; 0 when it holds a sphere, else the number of blocks.
  std::size_t copyLeaf(std::uint32_t first, std::uint32_t count,
                       flat::TriangleBlock blocks[]) const;
  // The leaf's blocks for the kernels: the stored ones, or a copy made in
  // `scratch`; null when the leaf is tested one shape at a time (fewer than
  // three triangles, a sphere, or no kernels). `blockCount` receives their number.
  const flat::TriangleBlock *leafInBlocks(std::uint32_t first, std::uint32_t count,
                                          flat::TriangleBlock scratch[],
                                          std::size_t &blockCount) const;
  void storeLeaves();
  // Fills lightBuffers_ for the lights that get one.
  void makeLightBuffers(const BvhOptions &options);
  // Puts the always-tested triangles first, in list order, and into blocks
  // for the kernels.
  void storeAlwaysTested();
  // Offers the always-tested shapes' hits to `best`; whether one blocks.
  void nearestAlwaysTested(const Ray &ray, const flat::RayConstants &leafRay,
                           RankedHit &best) const;
  bool blockedByAlwaysTested(const Ray &ray, const flat::RayConstants &leafRay,
                             ShadowQuery kind) const;
  // The leaf's hits offered to `best`; whether a shape of the leaf blocks a
  // shadow ray. Several shapes at a time when the leaf is large enough.
  void nearestInLeaf(const Ray &ray, const flat::RayConstants &leafRay, std::uint32_t first,
                     std::uint32_t count, RankedHit &best) const;
  template <bool count>
  bool leafBlocks(const Ray &ray, const flat::RayConstants &leafRay, std::uint32_t first,
                  std::uint32_t shapes, ShadowQuery kind, TestCounts &counts) const;

  ListIntersector list_;
  std::vector<Node> nodes_;
  std::vector<NodeReach> reaches_; // one per node
  std::vector<BvhWideNode> wide_;  // empty when queries walk the two-child nodes
  std::vector<Prim> prims_;
  std::vector<const Shape *> primShapes_;
  std::vector<Listed> alwaysTested_;
  // The first alwaysTestedInBlocks_ of them are triangles, also held in
  // alwaysTestedBlocks_ for the kernels.
  std::vector<flat::TriangleBlock> alwaysTestedBlocks_;
  std::size_t alwaysTestedInBlocks_ = 0;
  const flat::Kernels *leafKernels_ = nullptr; // null: leaves test one shape at a time
  // Stored leaf blocks, and where each leaf's start (indexed by its first
  // prim); empty when leaves are copied as visited.
  std::vector<flat::TriangleBlock> leafBlocks_;
  std::vector<std::uint32_t> leafBlockAt_;
  // For each light: (distance from the light to the nearest plane of a
  // triangle below) / (aspect bound), rounded down, one per node; 0 where
  // the node's aspect is unknown.
  std::vector<Vec3> lights_;
  std::vector<float> lightPlanes_;
  // The set-aside prims, light k's from setAsideFrom_[k] to setAsideFrom_[k + 1].
  std::vector<std::uint32_t> setAside_;
  std::vector<std::uint32_t> setAsideFrom_;
  std::vector<LightBuffer> lightBuffers_;
  std::vector<LightBuffer> eyeBuffer_; // one or none
  double maxCoordinate_ = 0.0;         // largest box coordinate, for plane rounding
};
