// The flat-array kernels on four double lanes. Compiled for AVX2 function by
// function (never FMA: a fused multiply-add would skip a rounding); only
// called where the processor reports AVX2.

#include "accel/flat/FlatKernels.h"

#if defined(FLAT_HAVE_X86_KERNELS)

#include <immintrin.h>

#define FLAT_TARGET __attribute__((target("avx2")))

namespace flat::avx2 {
namespace {

using Pack = __m256d;
constexpr int kLanes = 4;

FLAT_TARGET inline Pack splat(double value) {
  return _mm256_set1_pd(value);
}
FLAT_TARGET inline Pack load(const double *values) {
  return _mm256_load_pd(values);
}
FLAT_TARGET inline void store(double *values, Pack p) {
  _mm256_store_pd(values, p);
}
FLAT_TARGET inline Pack add(Pack a, Pack b) {
  return _mm256_add_pd(a, b);
}
FLAT_TARGET inline Pack sub(Pack a, Pack b) {
  return _mm256_sub_pd(a, b);
}
FLAT_TARGET inline Pack mul(Pack a, Pack b) {
  return _mm256_mul_pd(a, b);
}
FLAT_TARGET inline Pack divide(Pack a, Pack b) {
  return _mm256_div_pd(a, b);
}
FLAT_TARGET inline Pack squareRoot(Pack a) {
  return _mm256_sqrt_pd(a);
}
FLAT_TARGET inline Pack negate(Pack a) {
  return _mm256_xor_pd(a, _mm256_set1_pd(-0.0));
}
// Floats, one per lane.
using FloatPack = __m128;
FLAT_TARGET inline FloatPack splatFloat(float value) {
  return _mm_set1_ps(value);
}
FLAT_TARGET inline FloatPack loadFloats(const float *values) {
  return _mm_load_ps(values);
}
FLAT_TARGET inline FloatPack subFloats(FloatPack a, FloatPack b) {
  return _mm_sub_ps(a, b);
}
FLAT_TARGET inline FloatPack mulFloats(FloatPack a, FloatPack b) {
  return _mm_mul_ps(a, b);
}
// float(x): rounds to nearest like a scalar conversion.
FLAT_TARGET inline FloatPack narrow(Pack a) {
  return _mm256_cvtpd_ps(a);
}
FLAT_TARGET inline Pack widen(FloatPack a) {
  return _mm256_cvtps_pd(a);
}
FLAT_TARGET inline Pack roundToFloat(Pack a) {
  return widen(narrow(a));
}
// Ordered, quiet comparisons: false when either side is NaN, like C's < >= >.
FLAT_TARGET inline Pack lessThan(Pack a, Pack b) {
  return _mm256_cmp_pd(a, b, _CMP_LT_OQ);
}
FLAT_TARGET inline Pack greaterEqual(Pack a, Pack b) {
  return _mm256_cmp_pd(a, b, _CMP_GE_OQ);
}
FLAT_TARGET inline Pack greaterThan(Pack a, Pack b) {
  return _mm256_cmp_pd(a, b, _CMP_GT_OQ);
}
FLAT_TARGET inline Pack bitAnd(Pack a, Pack b) {
  return _mm256_and_pd(a, b);
}
FLAT_TARGET inline Pack bitOr(Pack a, Pack b) {
  return _mm256_or_pd(a, b);
}
// b where `a` is clear.
FLAT_TARGET inline Pack andNot(Pack a, Pack b) {
  return _mm256_andnot_pd(a, b);
}
FLAT_TARGET inline Pack select(Pack mask, Pack a, Pack b) {
  return _mm256_blendv_pd(b, a, mask);
}
FLAT_TARGET inline int bits(Pack mask) {
  return _mm256_movemask_pd(mask);
}

#include "accel/flat/FlatKernelBodies.inc"

} // namespace

const Kernels kernels = {nearestSphere, anySphere, nearestTriangle, anyTriangle};

} // namespace flat::avx2

#endif
