// Fast paths of the distance-field and morph kernels.
//
// Every routine here gives results bit-identical to the plain scalar loops of
// kernels_reference.hpp; kernels_test.cpp proves it on random inputs for every
// instruction-set path the processor can run. The arguments that make the
// vector forms exact are stated where they are used; in short:
// - every lane performs exactly the scalar operations of the definition, in
//   the same order, on 32-bit floats, with every product rounded before it is
//   added. The project builds with -ffp-contract=off; the AVX2 path is also
//   compiled without "fma", so no fused instruction can appear there at all.
//   (AVX-512 includes fused instructions; there -ffp-contract=off alone keeps
//   them out, and the equivalence tests would see any, because the reference
//   is compiled for the x86-64 baseline, which has none.)
// - fmin/fmax are only needed where a NaN can reach them; there the vector
//   form (v < bound ? v : bound) with a non-NaN bound is exactly minNum
//   (a NaN v yields the bound), and likewise for max;
// - the chamfer transform only ever sees 0, big = 2 * max(w, h) and sums of
//   those with 1 and 1.4142135: no NaN, no infinity, no negative zero, so
//   the minimum of a set of candidates does not depend on the order in which
//   they are compared, and the candidates from the previous row can be taken
//   for a whole row at once before the serial left (or right) scan.
//
// The code is written once with GCC vector extensions over a small "lane
// policy" (Baseline: SSE2, 4 lanes; Avx2: 8 lanes; Avx512: 16 lanes) and
// compiled once per policy. The entry points of a path carry its target
// attribute and `flatten`; every shared helper is forced inline, so that it
// is compiled inside the entry point, for that path's instruction set.
// Dispatch picks the best path the processor supports on first use.
#include "cursor/art/kernels.hpp"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "cursor/art/kernels_reference.hpp"

#if defined(__x86_64__)
#include <immintrin.h>
#define VURLE_KERNELS_X86 1
#else
#define VURLE_KERNELS_X86 0
#endif

#if defined(__FAST_MATH__)
#error "the kernels need IEEE arithmetic: build them without -ffast-math"
#endif

// The 32- and 64-byte vector types of the AVX2 and AVX-512 policies only
// cross function boundaries between functions inlined into one entry point
// of their path; GCC's notes on their calling convention concern no real call.
#pragma GCC diagnostic ignored "-Wpsabi"

static_assert(std::endian::native == std::endian::little, "the kernels read RGBA pixels as little-endian words");

namespace vurle {
namespace {

// Every helper that handles vectors is forced inline, also at -O0, so that
// it is compiled as part of the entry point of its path (and for that
// path's target): a wide vector never crosses a call between a function
// compiled for AVX2 or AVX-512 and one compiled for the baseline, whose
// calling conventions for such vectors differ.
#define VURLE_INLINE __attribute__((always_inline)) inline

constexpr float kDiagonal = 1.4142135f;

// ---------------------------------------------------------------------------
// Lane policies.

// Lane indices as plain integers, for per-lane loads. The vector is stored
// once and the indices are read back with plain loads; the empty asm keeps
// GCC from turning the reads into one lane extraction each, which costs more.
template <class I>
struct LaneIndices {
  alignas(64) int32_t at[sizeof(I) / sizeof(int32_t)];
  explicit LaneIndices(const I& v) {
    std::memcpy(at, &v, sizeof v);
    asm("" : "+m"(at));
  }
  // Element at[l] + offset of the 4-byte elements at base.
  const char* address(const void* base, int l, ptrdiff_t offset = 0) const {
    return static_cast<const char*>(base) + 4 * static_cast<ptrdiff_t>(at[l]) + 4 * offset;
  }
};

struct Baseline {
  static constexpr int lanes = 4;
  typedef float F __attribute__((vector_size(16)));
  typedef int32_t I __attribute__((vector_size(16)));
  typedef uint32_t U __attribute__((vector_size(16)));

  static F load(const float* p) {
    F v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static I loadI(const void* p) {
    I v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  static void store(float* p, const F& v) { std::memcpy(p, &v, sizeof v); }
  static void storeI(void* p, const I& v) { std::memcpy(p, &v, sizeof v); }
  static I iota() { return I{0, 1, 2, 3}; }
  static F gather(const float* base, const I& idx) {
    const LaneIndices<I> q(idx);
    return F{base[q.at[0]], base[q.at[1]], base[q.at[2]], base[q.at[3]]};
  }
  // Per lane l: lo = element idx[l], hi = element idx[l] + 1 of the 4-byte
  // elements at base (floats, or RGBA pixels moved as raw bits).
  static void gatherPairs(const void* base, const I& idx, F& lo, F& hi) {
    pairsAt(LaneIndices<I>(idx), base, 0, lo, hi);
  }
  static void pairsAt(const LaneIndices<I>& q, const void* base, ptrdiff_t offset, F& lo, F& hi) {
#if VURLE_KERNELS_X86
    __m128 a = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q.address(base, 0, offset))));
    a = _mm_loadh_pi(a, reinterpret_cast<const __m64*>(q.address(base, 1, offset)));
    __m128 b = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q.address(base, 2, offset))));
    b = _mm_loadh_pi(b, reinterpret_cast<const __m64*>(q.address(base, 3, offset)));
    lo = reinterpret_cast<F>(_mm_shuffle_ps(a, b, 0x88));
    hi = reinterpret_cast<F>(_mm_shuffle_ps(a, b, 0xDD));
#else
    for (int l = 0; l < lanes; ++l) {
      std::memcpy(&lo[l], q.address(base, l, offset), 4);
      std::memcpy(&hi[l], q.address(base, l, offset) + 4, 4);
    }
#endif
  }
  // Per lane l: out[j] = element idx[l] + j, j = 0..3.
  static void quadsAt(const LaneIndices<I>& q, const void* base, ptrdiff_t offset, F out[4]) {
#if VURLE_KERNELS_X86
    const __m128 v0 = _mm_loadu_ps(reinterpret_cast<const float*>(q.address(base, 0, offset)));
    const __m128 v1 = _mm_loadu_ps(reinterpret_cast<const float*>(q.address(base, 1, offset)));
    const __m128 v2 = _mm_loadu_ps(reinterpret_cast<const float*>(q.address(base, 2, offset)));
    const __m128 v3 = _mm_loadu_ps(reinterpret_cast<const float*>(q.address(base, 3, offset)));
    const __m128 t0 = _mm_unpacklo_ps(v0, v1), t1 = _mm_unpackhi_ps(v0, v1);
    const __m128 t2 = _mm_unpacklo_ps(v2, v3), t3 = _mm_unpackhi_ps(v2, v3);
    out[0] = reinterpret_cast<F>(_mm_movelh_ps(t0, t2));
    out[1] = reinterpret_cast<F>(_mm_movehl_ps(t2, t0));
    out[2] = reinterpret_cast<F>(_mm_movelh_ps(t1, t3));
    out[3] = reinterpret_cast<F>(_mm_movehl_ps(t3, t1));
#else
    for (int l = 0; l < lanes; ++l) {
      for (int j = 0; j < 4; ++j) std::memcpy(&out[j][l], q.address(base, l, offset) + 4 * j, 4);
    }
#endif
  }
  // a * b for 0 <= a, b < 32768 (one 16-bit multiply-add per lane).
  static I mulIndex(const I& a, const I& b) {
#if VURLE_KERNELS_X86
    return reinterpret_cast<I>(_mm_madd_epi16(reinterpret_cast<__m128i>(a), reinterpret_cast<__m128i>(b)));
#else
    return a * b;
#endif
  }
  static uint32_t bits(const I& m) {
#if VURLE_KERNELS_X86
    return static_cast<uint32_t>(_mm_movemask_ps(reinterpret_cast<__m128>(m)));
#else
    uint32_t r = 0;
    for (int l = 0; l < lanes; ++l) r |= (m[l] != 0 ? 1u : 0u) << l;
    return r;
#endif
  }
  static F sqrt(const F& v) {
#if VURLE_KERNELS_X86
    return reinterpret_cast<F>(_mm_sqrt_ps(reinterpret_cast<__m128>(v)));
#else
    F r;
    for (int l = 0; l < lanes; ++l) r[l] = std::sqrt(v[l]);
    return r;
#endif
  }
};

#if VURLE_KERNELS_X86
// AVX2 without FMA. Per-lane loads of 8 or 16 bytes combined with shuffles
// beat the hardware gathers on the processor measured (AMD Zen 5, for AVX2
// and AVX-512 alike), so all gathers here are built from plain loads.
struct Avx2 {
  static constexpr int lanes = 8;
  typedef float F __attribute__((vector_size(32)));
  typedef int32_t I __attribute__((vector_size(32)));
  typedef uint32_t U __attribute__((vector_size(32)));

  __attribute__((target("avx2"))) static F load(const float* p) {
    F v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  __attribute__((target("avx2"))) static I loadI(const void* p) {
    I v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  __attribute__((target("avx2"))) static void store(float* p, const F& v) { std::memcpy(p, &v, sizeof v); }
  __attribute__((target("avx2"))) static void storeI(void* p, const I& v) { std::memcpy(p, &v, sizeof v); }
  __attribute__((target("avx2"))) static I iota() { return I{0, 1, 2, 3, 4, 5, 6, 7}; }
  __attribute__((target("avx2"))) static F gather(const float* base, const I& idx) {
    const LaneIndices<I> q(idx);
    return F{base[q.at[0]], base[q.at[1]], base[q.at[2]], base[q.at[3]],
             base[q.at[4]], base[q.at[5]], base[q.at[6]], base[q.at[7]]};
  }
  // Per lane l: lo = element idx[l], hi = element idx[l] + 1 of the 4-byte
  // elements at base (floats, or RGBA pixels moved as raw bits).
  __attribute__((target("avx2"))) static void gatherPairs(const void* base, const I& idx, F& lo, F& hi) {
    pairsAt(LaneIndices<I>(idx), base, 0, lo, hi);
  }
  __attribute__((target("avx2"))) static void pairsAt(const LaneIndices<I>& q, const void* base, ptrdiff_t offset,
                                                      F& lo, F& hi) {
    const char* b = static_cast<const char*>(base) + 4 * offset;
    // Lanes {0, 1 | 4, 5} and {2, 3 | 6, 7}, so that the in-lane shuffles
    // leave the results in natural lane order.
    const __m256 g0 = _mm256_insertf128_ps(_mm256_castps128_ps256(pairOf(q, b, 0, 1)), pairOf(q, b, 4, 5), 1);
    const __m256 g1 = _mm256_insertf128_ps(_mm256_castps128_ps256(pairOf(q, b, 2, 3)), pairOf(q, b, 6, 7), 1);
    lo = reinterpret_cast<F>(_mm256_shuffle_ps(g0, g1, 0x88));
    hi = reinterpret_cast<F>(_mm256_shuffle_ps(g0, g1, 0xDD));
  }
  // Per lane l: out[j] = element idx[l] + j, j = 0..3.
  __attribute__((target("avx2"))) static void quadsAt(const LaneIndices<I>& q, const void* base, ptrdiff_t offset,
                                                      F out[4]) {
    const char* b = static_cast<const char*>(base) + 4 * offset;
    const __m256 v0 = quadsOf(q, b, 0), v1 = quadsOf(q, b, 1), v2 = quadsOf(q, b, 2), v3 = quadsOf(q, b, 3);
    const __m256 t0 = _mm256_unpacklo_ps(v0, v1), t1 = _mm256_unpackhi_ps(v0, v1);
    const __m256 t2 = _mm256_unpacklo_ps(v2, v3), t3 = _mm256_unpackhi_ps(v2, v3);
    out[0] = reinterpret_cast<F>(_mm256_shuffle_ps(t0, t2, 0x44));
    out[1] = reinterpret_cast<F>(_mm256_shuffle_ps(t0, t2, 0xEE));
    out[2] = reinterpret_cast<F>(_mm256_shuffle_ps(t1, t3, 0x44));
    out[3] = reinterpret_cast<F>(_mm256_shuffle_ps(t1, t3, 0xEE));
  }
  // The 8-byte elements of lanes l0 and l1.
  __attribute__((target("avx2"))) static __m128 pairOf(const LaneIndices<I>& q, const void* base, int l0, int l1) {
    const __m128 v = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q.address(base, l0))));
    return _mm_loadh_pi(v, reinterpret_cast<const __m64*>(q.address(base, l1)));
  }
  // The 16-byte elements of lanes l and l + 4.
  __attribute__((target("avx2"))) static __m256 quadsOf(const LaneIndices<I>& q, const void* base, int l) {
    const __m128 low = _mm_loadu_ps(reinterpret_cast<const float*>(q.address(base, l)));
    const __m128 high = _mm_loadu_ps(reinterpret_cast<const float*>(q.address(base, l + 4)));
    return _mm256_insertf128_ps(_mm256_castps128_ps256(low), high, 1);
  }
  // a * b for 0 <= a, b < 32768 (one 16-bit multiply-add per lane).
  __attribute__((target("avx2"))) static I mulIndex(const I& a, const I& b) {
    return reinterpret_cast<I>(_mm256_madd_epi16(reinterpret_cast<__m256i>(a), reinterpret_cast<__m256i>(b)));
  }
  __attribute__((target("avx2"))) static uint32_t bits(const I& m) {
    return static_cast<uint32_t>(_mm256_movemask_ps(reinterpret_cast<__m256>(m)));
  }
  __attribute__((target("avx2"))) static F sqrt(const F& v) {
    return reinterpret_cast<F>(_mm256_sqrt_ps(reinterpret_cast<__m256>(v)));
  }
};

// AVX-512 F, DQ, VL and BW without any other extension. The intrinsics are
// the masked forms with an all-ones mask: the unmasked ones start from an
// undefined vector, which GCC 12 reports as maybe uninitialised.
#define VURLE_AVX512 __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw")))
struct Avx512 {
  static constexpr int lanes = 16;
  typedef float F __attribute__((vector_size(64)));
  typedef int32_t I __attribute__((vector_size(64)));
  typedef uint32_t U __attribute__((vector_size(64)));

  VURLE_AVX512 static F load(const float* p) {
    F v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  VURLE_AVX512 static I loadI(const void* p) {
    I v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
  VURLE_AVX512 static void store(float* p, const F& v) { std::memcpy(p, &v, sizeof v); }
  VURLE_AVX512 static void storeI(void* p, const I& v) { std::memcpy(p, &v, sizeof v); }
  VURLE_AVX512 static I iota() { return I{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}; }
  VURLE_AVX512 static F gather(const float* base, const I& idx) {
    const LaneIndices<I> q(idx);
    F r;
    for (int l = 0; l < lanes; ++l) r[l] = base[q.at[l]];
    return r;
  }
  // The 8-byte elements of lanes l0 and l1.
  VURLE_AVX512 static __m128 pairOf(const LaneIndices<I>& q, const void* base, int l0, int l1) {
    const __m128 v = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(q.address(base, l0))));
    return _mm_loadh_pi(v, reinterpret_cast<const __m64*>(q.address(base, l1)));
  }
  VURLE_AVX512 static __m512 blocks(__m128 b0, __m128 b1, __m128 b2, __m128 b3) {
    __m512 v = _mm512_castps128_ps512(b0);
    v = _mm512_mask_insertf32x4(v, 0xffff, v, b1, 1);
    v = _mm512_mask_insertf32x4(v, 0xffff, v, b2, 2);
    return _mm512_mask_insertf32x4(v, 0xffff, v, b3, 3);
  }
  // Per lane l: lo = element idx[l], hi = element idx[l] + 1. Block k of the
  // first vector holds lanes 4k, 4k + 1 and of the second 4k + 2, 4k + 3, so
  // that the in-block shuffles leave the results in natural lane order.
  VURLE_AVX512 static void gatherPairs(const void* base, const I& idx, F& lo, F& hi) {
    pairsAt(LaneIndices<I>(idx), base, 0, lo, hi);
  }
  VURLE_AVX512 static void pairsAt(const LaneIndices<I>& q, const void* base, ptrdiff_t offset, F& lo, F& hi) {
    const char* b = static_cast<const char*>(base) + 4 * offset;
    const __m512 g0 = blocks(pairOf(q, b, 0, 1), pairOf(q, b, 4, 5), pairOf(q, b, 8, 9), pairOf(q, b, 12, 13));
    const __m512 g1 = blocks(pairOf(q, b, 2, 3), pairOf(q, b, 6, 7), pairOf(q, b, 10, 11), pairOf(q, b, 14, 15));
    lo = reinterpret_cast<F>(_mm512_maskz_shuffle_ps(0xffff, g0, g1, 0x88));
    hi = reinterpret_cast<F>(_mm512_maskz_shuffle_ps(0xffff, g0, g1, 0xDD));
  }
  // The 16-byte elements of lanes l, l + 4, l + 8 and l + 12.
  VURLE_AVX512 static __m128 quad(const char* p) { return _mm_loadu_ps(reinterpret_cast<const float*>(p)); }
  VURLE_AVX512 static __m512 quadsOf(const LaneIndices<I>& q, const void* base, int l) {
    return blocks(quad(q.address(base, l)), quad(q.address(base, l + 4)), quad(q.address(base, l + 8)),
                  quad(q.address(base, l + 12)));
  }
  // Per lane l: out[j] = element idx[l] + j, j = 0..3.
  VURLE_AVX512 static void quadsAt(const LaneIndices<I>& q, const void* base, ptrdiff_t offset, F out[4]) {
    const char* b = static_cast<const char*>(base) + 4 * offset;
    const __m512 v0 = quadsOf(q, b, 0), v1 = quadsOf(q, b, 1), v2 = quadsOf(q, b, 2), v3 = quadsOf(q, b, 3);
    const __m512 t0 = _mm512_maskz_unpacklo_ps(0xffff, v0, v1), t1 = _mm512_maskz_unpackhi_ps(0xffff, v0, v1);
    const __m512 t2 = _mm512_maskz_unpacklo_ps(0xffff, v2, v3), t3 = _mm512_maskz_unpackhi_ps(0xffff, v2, v3);
    out[0] = reinterpret_cast<F>(_mm512_maskz_shuffle_ps(0xffff, t0, t2, 0x44));
    out[1] = reinterpret_cast<F>(_mm512_maskz_shuffle_ps(0xffff, t0, t2, 0xEE));
    out[2] = reinterpret_cast<F>(_mm512_maskz_shuffle_ps(0xffff, t1, t3, 0x44));
    out[3] = reinterpret_cast<F>(_mm512_maskz_shuffle_ps(0xffff, t1, t3, 0xEE));
  }
  // a * b for 0 <= a, b < 32768 (one 16-bit multiply-add per lane).
  VURLE_AVX512 static I mulIndex(const I& a, const I& b) {
    return reinterpret_cast<I>(_mm512_madd_epi16(reinterpret_cast<__m512i>(a), reinterpret_cast<__m512i>(b)));
  }
  VURLE_AVX512 static uint32_t bits(const I& m) {
    return static_cast<uint32_t>(_mm512_movepi32_mask(reinterpret_cast<__m512i>(m)));
  }
  VURLE_AVX512 static F sqrt(const F& v) {
    return reinterpret_cast<F>(_mm512_maskz_sqrt_ps(0xffff, reinterpret_cast<__m512>(v)));
  }
};
#endif

// ---------------------------------------------------------------------------
// Lane-wise comparisons and choices. All vector code compares and chooses
// through these. For the 64-byte vectors of the AVX-512 policy they are
// separate functions compiled for AVX-512: written inline in a template that
// is later inlined into an AVX-512 function, GCC 12 expands 64-byte
// comparisons one element at a time (their mask type is fixed in the
// template's own, baseline context).

template <class T>
VURLE_INLINE auto less(const T& a, const T& b) {
  return a < b;
}
template <class T>
VURLE_INLINE auto greater(const T& a, const T& b) {
  return a > b;
}
template <class T>
VURLE_INLINE auto greaterEqual(const T& a, const T& b) {
  return a >= b;
}
template <class T>
VURLE_INLINE auto equal(const T& a, const T& b) {
  return a == b;
}
// m ? a : b, lane-wise for vectors.
template <class M, class T>
VURLE_INLINE T choose(const M& m, const T& a, const T& b) {
  return m ? a : b;
}

#if VURLE_KERNELS_X86
VURLE_AVX512 inline Avx512::I less(const Avx512::F& a, const Avx512::F& b) { return a < b; }
VURLE_AVX512 inline Avx512::I greater(const Avx512::F& a, const Avx512::F& b) { return a > b; }
VURLE_AVX512 inline Avx512::I greaterEqual(const Avx512::F& a, const Avx512::F& b) { return a >= b; }
VURLE_AVX512 inline Avx512::I less(const Avx512::I& a, const Avx512::I& b) { return a < b; }
VURLE_AVX512 inline Avx512::I greater(const Avx512::I& a, const Avx512::I& b) { return a > b; }
VURLE_AVX512 inline Avx512::I equal(const Avx512::I& a, const Avx512::I& b) { return a == b; }
VURLE_AVX512 inline Avx512::F choose(const Avx512::I& m, const Avx512::F& a, const Avx512::F& b) { return m ? a : b; }
VURLE_AVX512 inline Avx512::I choose(const Avx512::I& m, const Avx512::I& a, const Avx512::I& b) { return m ? a : b; }
#endif

// Loads the first `count` (< lanes) floats, zero in the other lanes.
template <class V>
VURLE_INLINE typename V::F loadPartial(const float* p, int32_t count) {
  float buffer[V::lanes] = {};
  std::memcpy(buffer, p, sizeof(float) * static_cast<size_t>(count));
  return V::load(buffer);
}

// ---------------------------------------------------------------------------
// lerpField.

template <class V>
VURLE_INLINE void lerpBody(const float* __restrict a, const float* __restrict b, float* __restrict out, int32_t count,
                           float t) {
  using F = typename V::F;
  constexpr int L = V::lanes;
  int32_t i = 0;
  for (; i + 2 * L <= count; i += 2 * L) {
    const F a0 = V::load(a + i), a1 = V::load(a + i + L);
    const F b0 = V::load(b + i), b1 = V::load(b + i + L);
    V::store(out + i, a0 + t * (b0 - a0));
    V::store(out + i + L, a1 + t * (b1 - a1));
  }
  for (; i < count; ++i) {
    const float difference = b[i] - a[i];
    const float product = t * difference;
    out[i] = a[i] + product;
  }
}

// ---------------------------------------------------------------------------
// Chamfer distance.
//
// Row by row, the candidates from the previous row (forward pass) or the next
// row (backward pass) are folded into the row with whole vectors first; then
// one serial scan folds in the left (right) neighbour. Since all values are
// finite, non-negative and never -0.0, min over the same set of exactly
// rounded candidates is the same value whatever the grouping, so the result
// equals the definition's one-pixel-at-a-time order. signedDistanceField runs
// its two fields (inside 0 and inside 1) through the same sweep, so that the
// two serial scans form two independent dependency chains.

template <class F>
VURLE_INLINE F minOf(const F& a, const F& b) {
  return choose(less(a, b), a, b);
}

// Initial values of one row: 0 where (alpha >> 7) == inside, else big.
template <class V>
VURLE_INLINE void initRow(const uint8_t* __restrict rgba, float* __restrict row, int32_t width, int32_t inside,
                          float big) {
  using F = typename V::F;
  using I = typename V::I;
  using U = typename V::U;
  constexpr int L = V::lanes;
  const I insideV = I{} + inside;
  const F zero = F{};
  const F bigV = F{} + big;
  int32_t x = 0;
  for (; x + L <= width; x += L) {
    const U pixels = reinterpret_cast<U>(V::loadI(rgba + 4 * static_cast<size_t>(x)));
    const I bit = reinterpret_cast<I>(pixels >> 31);  // alpha >> 7
    V::store(row + x, choose(equal(bit, insideV), zero, bigV));
  }
  for (; x < width; ++x) row[x] = (rgba[4 * static_cast<size_t>(x) + 3] >> 7) == inside ? 0.0f : big;
}

// Folds the previous (or next) row `near` into `row`: for each x, min with
// near[x] + 1 and near[x - 1], near[x + 1] + 1.4142135 where they exist.
template <class V>
VURLE_INLINE void foldNearRow(float* __restrict row, const float* __restrict near, int32_t width) {
  using F = typename V::F;
  constexpr int L = V::lanes;
  if (width == 1) {
    row[0] = minOf(row[0], near[0] + 1.0f);
    return;
  }
  row[0] = minOf(minOf(row[0], near[0] + 1.0f), near[1] + kDiagonal);
  int32_t x = 1;
  for (; x + L <= width - 1; x += L) {
    F r = V::load(row + x);
    r = minOf(r, V::load(near + x) + 1.0f);
    r = minOf(r, V::load(near + x - 1) + kDiagonal);
    r = minOf(r, V::load(near + x + 1) + kDiagonal);
    V::store(row + x, r);
  }
  for (; x < width - 1; ++x) {
    float r = minOf(row[x], near[x] + 1.0f);
    r = minOf(r, near[x - 1] + kDiagonal);
    row[x] = minOf(r, near[x + 1] + kDiagonal);
  }
  const int32_t e = width - 1;
  row[e] = minOf(minOf(row[e], near[e] + 1.0f), near[e - 1] + kDiagonal);
}

VURLE_INLINE void scanLeftToRight(float* __restrict row, int32_t width) {
  float previous = row[0];
  for (int32_t x = 1; x < width; ++x) {
    previous = minOf(row[x], previous + 1.0f);
    row[x] = previous;
  }
}

VURLE_INLINE void scanRightToLeft(float* __restrict row, int32_t width) {
  float previous = row[width - 1];
  for (int32_t x = width - 2; x >= 0; --x) {
    previous = minOf(row[x], previous + 1.0f);
    row[x] = previous;
  }
}

// Both fields at once: two independent chains for the out-of-order core.
VURLE_INLINE void scanLeftToRight2(float* __restrict a, float* __restrict b, int32_t width) {
  float pa = a[0];
  float pb = b[0];
  for (int32_t x = 1; x < width; ++x) {
    pa = minOf(a[x], pa + 1.0f);
    pb = minOf(b[x], pb + 1.0f);
    a[x] = pa;
    b[x] = pb;
  }
}

VURLE_INLINE void scanRightToLeft2(float* __restrict a, float* __restrict b, int32_t width) {
  float pa = a[width - 1];
  float pb = b[width - 1];
  for (int32_t x = width - 2; x >= 0; --x) {
    pa = minOf(a[x], pa + 1.0f);
    pb = minOf(b[x], pb + 1.0f);
    a[x] = pa;
    b[x] = pb;
  }
}

template <class V>
VURLE_INLINE void subtractRow(float* __restrict out, const float* __restrict scratch, int32_t width) {
  constexpr int L = V::lanes;
  int32_t x = 0;
  for (; x + L <= width; x += L) V::store(out + x, V::load(out + x) - V::load(scratch + x));
  for (; x < width; ++x) out[x] = out[x] - scratch[x];
}

VURLE_INLINE float chamferBig(int32_t width, int32_t height) {
  return static_cast<float>(2 * int64_t{std::max(width, height)});
}

template <class V>
VURLE_INLINE void chamferBody(const uint8_t* __restrict rgba, float* __restrict out, int32_t width, int32_t height,
                              int32_t inside) {
  const float big = chamferBig(width, height);
  const size_t w = static_cast<size_t>(width);
  for (int32_t y = 0; y < height; ++y) {
    float* row = out + y * w;
    initRow<V>(rgba + 4 * y * w, row, width, inside, big);
    if (y > 0) foldNearRow<V>(row, row - w, width);
    scanLeftToRight(row, width);
  }
  for (int32_t y = height - 1; y >= 0; --y) {
    float* row = out + y * w;
    if (y < height - 1) foldNearRow<V>(row, row + w, width);
    scanRightToLeft(row, width);
  }
}

template <class V>
VURLE_INLINE void signedDistanceBody(const uint8_t* __restrict rgba, float* __restrict out, float* __restrict scratch,
                                     int32_t width, int32_t height) {
  const float big = chamferBig(width, height);
  const size_t w = static_cast<size_t>(width);
  for (int32_t y = 0; y < height; ++y) {
    float* a = out + y * w;
    float* b = scratch + y * w;
    initRow<V>(rgba + 4 * y * w, a, width, 0, big);
    initRow<V>(rgba + 4 * y * w, b, width, 1, big);
    if (y > 0) {
      foldNearRow<V>(a, a - w, width);
      foldNearRow<V>(b, b - w, width);
    }
    scanLeftToRight2(a, b, width);
  }
  for (int32_t y = height - 1; y >= 0; --y) {
    float* a = out + y * w;
    float* b = scratch + y * w;
    if (y < height - 1) {
      foldNearRow<V>(a, a + w, width);
      foldNearRow<V>(b, b + w, width);
    }
    scanRightToLeft2(a, b, width);
    // Row y + 1 is final in both fields and no longer needed by the sweep.
    if (y < height - 1) subtractRow<V>(a + w, b + w, width);
  }
  subtractRow<V>(out, scratch, width);
}

// ---------------------------------------------------------------------------
// padRaster: the extrapolated values outside the copied block, then the copy.
// The reference computes the block's pixels too and overwrites them with the
// copy; skipping them changes no output.

// -sqrt(dy^2 + (dx^2 + v^2)) in the definition's order.
VURLE_INLINE float extrapolated(float dy2, float dx, float v) {
  const float dx2 = dx * dx;
  const float v2 = v * v;
  const float inner = dx2 + v2;
  return -std::sqrt(dy2 + inner);
}

// Destination columns [begin, end) of one row whose nearest source column is
// the constant `column` of `sourceRow`, with dx = x - offsetX - column.
template <class V>
VURLE_INLINE void extrapolateRun(float* __restrict row, const float* __restrict sourceRow, int32_t begin, int32_t end,
                                 int32_t column, int32_t offsetX, float dy2) {
  using F = typename V::F;
  using I = typename V::I;
  constexpr int L = V::lanes;
  const float v = sourceRow[column];
  const float v2 = v * v;
  const I first = V::iota() + (begin - offsetX - column);
  int32_t x = begin;
  for (; x + L <= end; x += L) {
    const F dx = __builtin_convertvector(first + (x - begin), F);
    const F inner = dx * dx + v2;
    V::store(row + x, -V::sqrt(dy2 + inner));
  }
  for (; x < end; ++x) row[x] = extrapolated(dy2, static_cast<float>(x - offsetX - column), v);
}

template <class V>
VURLE_INLINE void padBody(const float* __restrict sourceField, const uint8_t* __restrict sourceRGBA,
                          float* __restrict destinationField, uint8_t* __restrict destinationRGBA, int32_t sourceWidth,
                          int32_t sourceHeight, int32_t destinationWidth, int32_t destinationHeight, int32_t offsetX,
                          int32_t offsetY) {
  using F = typename V::F;
  constexpr int L = V::lanes;
  const int32_t blockEnd = offsetX + sourceWidth;  // first column right of the block
  const size_t sw = static_cast<size_t>(sourceWidth);
  const size_t dw = static_cast<size_t>(destinationWidth);
  for (int32_t y = 0; y < destinationHeight; ++y) {
    const int32_t sy = y - offsetY;
    const int32_t cy = std::clamp(sy, 0, sourceHeight - 1);
    const float dy = static_cast<float>(sy - cy);
    const float dy2 = dy * dy;
    const float* sourceRow = sourceField + static_cast<size_t>(cy) * sw;
    float* row = destinationField + static_cast<size_t>(y) * dw;
    extrapolateRun<V>(row, sourceRow, 0, offsetX, 0, offsetX, dy2);
    if (sy != cy) {
      // Above or below the block: the nearest column is the column itself,
      // dx = 0, and dx * dx + v * v is v * v (never -0.0).
      int32_t x = 0;
      for (; x + L <= sourceWidth; x += L) {
        const F v = V::load(sourceRow + x);
        V::store(row + offsetX + x, -V::sqrt(dy2 + v * v));
      }
      for (; x < sourceWidth; ++x) row[offsetX + x] = extrapolated(dy2, 0.0f, sourceRow[x]);
    }
    extrapolateRun<V>(row, sourceRow, blockEnd, destinationWidth, sourceWidth - 1, offsetX, dy2);
  }
  for (int32_t r = 0; r < sourceHeight; ++r) {
    const size_t d = static_cast<size_t>(offsetY + r) * dw + static_cast<size_t>(offsetX);
    std::memcpy(destinationField + d, sourceField + static_cast<size_t>(r) * sw, sizeof(float) * sw);
    std::memcpy(destinationRGBA + 4 * d, sourceRGBA + 4 * static_cast<size_t>(r) * sw, 4 * sw);
  }
}

// ---------------------------------------------------------------------------
// morphCPU.
//
// Lanes run across pixels: a group is H::lanes consecutive pixels in row-major
// order (a group may run on into the next row). Every pixel needs two
// projections (onto the source and onto the
// target field) and two colour samples (of `from` and of `to`) that do not
// depend on each other, so a group carries both side by side in a pair of
// hardware vectors, Two{s, t}: the source side and the target side. The
// projection code is written once over Two, so each of its operations comes
// as two independent instructions, and the long dependency chain of a Newton
// step (index, gather, blend, division, clamp) runs twice in parallel.
//
// A lane's Newton iteration stops on its own (|delta| < 0.05, length <
// 0.04): `live` masks the lanes that still iterate, stopped lanes keep their
// point, and the work ends early once no lane of the group is live.

template <class T>
struct Two {
  T s;
  T t;
};

template <class T>
VURLE_INLINE Two<T> both(const T& v) {
  return {v, v};
}

// Two-vectors and their operators: each operation is applied to both sides.
#define VURLE_TWO_BINARY(OP)                                                                   \
  template <class T>                                                                           \
  VURLE_INLINE auto operator OP(const Two<T>& a, const Two<T>& b)->Two<decltype(a.s OP b.s)> { \
    return {a.s OP b.s, a.t OP b.t};                                                           \
  }                                                                                            \
  template <class T, class S, class = std::enable_if_t<std::is_arithmetic_v<S>>>               \
  VURLE_INLINE auto operator OP(const Two<T>& a, S b)->Two<decltype(a.s OP a.s)> {             \
    const T v = T{} + b;                                                                       \
    return {a.s OP v, a.t OP v};                                                               \
  }                                                                                            \
  template <class T, class S, class = std::enable_if_t<std::is_arithmetic_v<S>>>               \
  VURLE_INLINE auto operator OP(S a, const Two<T>& b)->Two<decltype(b.s OP b.s)> {             \
    const T v = T{} + a;                                                                       \
    return {v OP b.s, v OP b.t};                                                               \
  }
VURLE_TWO_BINARY(+)
VURLE_TWO_BINARY(-)
VURLE_TWO_BINARY(*)
VURLE_TWO_BINARY(/)
VURLE_TWO_BINARY(&)
VURLE_TWO_BINARY(|)
#undef VURLE_TWO_BINARY

#define VURLE_TWO_COMPARE(OP, FN)                                                                \
  template <class T>                                                                             \
  VURLE_INLINE auto operator OP(const Two<T>& a, const Two<T>& b)->Two<decltype(FN(a.s, b.s))> { \
    return {FN(a.s, b.s), FN(a.t, b.t)};                                                         \
  }                                                                                              \
  template <class T, class S, class = std::enable_if_t<std::is_arithmetic_v<S>>>                 \
  VURLE_INLINE auto operator OP(const Two<T>& a, S b)->Two<decltype(FN(a.s, a.s))> {             \
    const T v = T{} + b;                                                                         \
    return {FN(a.s, v), FN(a.t, v)};                                                             \
  }
VURLE_TWO_COMPARE(<, less)
VURLE_TWO_COMPARE(>, greater)
VURLE_TWO_COMPARE(>=, greaterEqual)
VURLE_TWO_COMPARE(==, equal)
#undef VURLE_TWO_COMPARE

template <class T>
VURLE_INLINE Two<T> operator>>(const Two<T>& a, int shift) {
  return {a.s >> shift, a.t >> shift};
}

template <class T>
VURLE_INLINE Two<T> operator~(const Two<T>& a) {
  return {~a.s, ~a.t};
}
template <class T>
VURLE_INLINE Two<T>& operator&=(Two<T>& a, const Two<T>& b) {
  a.s &= b.s;
  a.t &= b.t;
  return a;
}

// Lane-wise choice: m ? a : b.
template <class M, class T>
VURLE_INLINE T select(const M& m, const T& a, const T& b) {
  return choose(m, a, b);
}
template <class M, class T>
VURLE_INLINE Two<T> select(const Two<M>& m, const Two<T>& a, const Two<T>& b) {
  return {choose(m.s, a.s, b.s), choose(m.t, a.t, b.t)};
}

// minNum / maxNum against a bound that is never NaN: a NaN v yields the
// bound, exactly as fmin and fmax. clampBound is fmin(fmax(v, lo), hi).
template <class T>
VURLE_INLINE T minBound(const T& v, const T& bound) {
  return select(less(v, bound), v, bound);
}
template <class T>
VURLE_INLINE T maxBound(const T& v, const T& bound) {
  return select(greater(v, bound), v, bound);
}
template <class T>
VURLE_INLINE T clampBound(const T& v, const T& lo, const T& hi) {
  return minBound(maxBound(v, lo), hi);
}

// The two buffers a Two-vector reads from: its source side and target side.
struct FieldSides {
  const float* s;
  const float* t;
};
struct ImageSides {
  const uint8_t* s;
  const uint8_t* t;
};

// A pair of hardware vectors of policy H used as one vector of 2 * H::lanes.
template <class H>
struct Doubled {
  using HF = typename H::F;
  using HI = typename H::I;
  using HU = typename H::U;
  using F = Two<HF>;
  using I = Two<HI>;
  using U = Two<HU>;
  static constexpr uint32_t allLanes = static_cast<uint32_t>((uint64_t{1} << (2 * H::lanes)) - 1);

  VURLE_INLINE static I toInt(const F& v) {  // truncation
    return {__builtin_convertvector(v.s, HI), __builtin_convertvector(v.t, HI)};
  }
  VURLE_INLINE static F toFloat(const I& v) {
    return {__builtin_convertvector(v.s, HF), __builtin_convertvector(v.t, HF)};
  }
  VURLE_INLINE static U asBits(const F& v) { return {reinterpret_cast<HU>(v.s), reinterpret_cast<HU>(v.t)}; }
  // The byte at bit `shift` of each lane, as a float.
  VURLE_INLINE static F byteAt(const U& v, int shift) {
    const U byte = (v >> shift) & 0xffu;
    return {__builtin_convertvector(reinterpret_cast<HI>(byte.s), HF),
            __builtin_convertvector(reinterpret_cast<HI>(byte.t), HF)};
  }
  VURLE_INLINE static uint32_t bits(const I& m) { return H::bits(m.s) | (H::bits(m.t) << H::lanes); }
  VURLE_INLINE static I mulIndex(const I& a, const I& b) { return {H::mulIndex(a.s, b.s), H::mulIndex(a.t, b.t)}; }
  VURLE_INLINE static F gather(const FieldSides& base, const I& idx) {
    return {H::gather(base.s, idx.s), H::gather(base.t, idx.t)};
  }
  // Elements idx and idx + 1 of 4-byte elements (floats, or pixels as bits).
  VURLE_INLINE static void gatherPairs(const void* s, const void* t, const I& idx, F& lo, F& hi) {
    H::gatherPairs(s, idx.s, lo.s, hi.s);
    H::gatherPairs(t, idx.t, lo.t, hi.t);
  }
  // Lane indices stored once for several loads at fixed offsets from them.
  struct Indices {
    LaneIndices<HI> s;
    LaneIndices<HI> t;
  };
  VURLE_INLINE static Indices indices(const I& idx) { return {LaneIndices<HI>(idx.s), LaneIndices<HI>(idx.t)}; }
  // Elements idx + offset .. idx + offset + 3.
  VURLE_INLINE static void quadsAt(const Indices& q, const void* s, const void* t, ptrdiff_t offset, F out[4]) {
    HF os[4], ot[4];
    H::quadsAt(q.s, s, offset, os);
    H::quadsAt(q.t, t, offset, ot);
    for (int j = 0; j < 4; ++j) out[j] = {os[j], ot[j]};
  }
  // Elements idx + offset and idx + offset + 1.
  VURLE_INLINE static void pairsAt(const Indices& q, const void* s, const void* t, ptrdiff_t offset, F& lo, F& hi) {
    H::pairsAt(q.s, s, offset, lo.s, hi.s);
    H::pairsAt(q.t, t, offset, lo.t, hi.t);
  }
};

template <class V>
struct MorphFrame {
  int32_t width;
  int32_t height;
  typename V::I widthI;
  typename V::I lastColumnI;  // width - 1
  typename V::I lastRowI;     // height - 1
  typename V::F lastColumnF;
  typename V::F lastRowF;
  bool neighbourhoodFits;  // width and height at least 4
};

template <class V>
struct Axis {
  typename V::I low;
  typename V::I high;
  typename V::F fraction;
};

// axis(u, size) of the bilinear sample: c = u clamped to [0, size - 1];
// low = int(c); high = min(low + 1, size - 1); fraction = c - low. This is
// the part after the clamp, for a c already in [0, size - 1].
template <class V>
VURLE_INLINE Axis<V> axisFromClamped(const typename V::F& c, const typename V::I& lastI) {
  const typename V::I low = V::toInt(c);
  const typename V::I next = low + 1;
  return {low, select(next < lastI, next, lastI), c - V::toFloat(low)};
}

// axis for any u; a NaN u clamps to 0.
template <class V>
VURLE_INLINE Axis<V> axis(const typename V::F& u, const typename V::F& lastF, const typename V::I& lastI) {
  return axisFromClamped<V>(clampBound(u, typename V::F{}, lastF), lastI);
}

// The bilinear formula on four taps a, b (upper row) and c, e (lower row).
template <class V>
VURLE_INLINE typename V::F lerp2(const typename V::F& a, const typename V::F& b, const typename V::F& c,
                                 const typename V::F& e, const typename V::F& ufraction,
                                 const typename V::F& vfraction) {
  const typename V::F top = a + (b - a) * ufraction;
  const typename V::F bottom = c + (e - c) * ufraction;
  return top * (1.0f - vfraction) + bottom * vfraction;
}

// Bilinear field sample S at the given axes, one 4-byte gather per tap.
template <class V>
VURLE_INLINE typename V::F bilinear(const FieldSides& field, const MorphFrame<V>& m, const Axis<V>& ax,
                                    const Axis<V>& ay) {
  using I = typename V::I;
  const I rowLow = V::mulIndex(ay.low, m.widthI);
  const I rowHigh = V::mulIndex(ay.high, m.widthI);
  return lerp2<V>(V::gather(field, rowLow + ax.low), V::gather(field, rowLow + ax.high),
                  V::gather(field, rowHigh + ax.low), V::gather(field, rowHigh + ax.high), ax.fraction, ay.fraction);
}

// The same sample with one pair load per row, for width >= 2: the pair
// starts at column min(low, width - 2); on the last column (where high ==
// low) both taps are the pair's second element.
template <class V>
VURLE_INLINE typename V::F bilinearPairs(const FieldSides& field, const MorphFrame<V>& m, const Axis<V>& ax,
                                         const Axis<V>& ay) {
  using F = typename V::F;
  using I = typename V::I;
  const I lastPairStart = m.lastColumnI - 1;
  const I column = select(ax.low < lastPairStart, ax.low, lastPairStart);
  const I onLastColumn = ax.low == m.lastColumnI;
  F a, b, c, e;
  const I upper = V::mulIndex(ay.low, m.widthI) + column;
  if (V::bits(ay.high == ay.low + 1) == V::allLanes) {
    // No lane on the last row: the lower pair is one row below the upper.
    const typename V::Indices at = V::indices(upper);
    V::pairsAt(at, field.s, field.t, 0, a, b);
    V::pairsAt(at, field.s, field.t, m.width, c, e);
  } else {
    V::gatherPairs(field.s, field.t, upper, a, b);
    V::gatherPairs(field.s, field.t, V::mulIndex(ay.high, m.widthI) + column, c, e);
  }
  return lerp2<V>(select(onLastColumn, b, a), b, select(onLastColumn, e, c), e, ax.fraction, ay.fraction);
}

// Lanes on which the three axes of one coordinate (at u, u + 1 and u - 1)
// use the columns low - 1 .. low + 2 of the axis at u in the regular way:
// high = low + 1, (low + 1, low + 2) at u + 1 and (low - 1, low) at u - 1.
// Then all of them lie inside the canvas. Where u + 1 or u - 1 was clamped
// at an edge, or rounded onto the next whole number, the lane is irregular.
template <class V>
VURLE_INLINE typename V::I neighbourhood(const Axis<V>& at, const Axis<V>& plus, const Axis<V>& minus) {
  const typename V::I next = at.low + 1;
  return (at.high == next) & (plus.low == next) & (plus.high == at.low + 2) & (minus.low == at.low - 1) &
         (minus.high == at.low);
}

// One Newton update on the lanes in `live`; lanes whose gradient is too flat
// leave `live`. Stopped lanes keep their point.
template <class V>
VURLE_INLINE void advance(const MorphFrame<V>& m, typename V::I& live, typename V::F& px, typename V::F& py,
                          const typename V::F& delta, const typename V::F& gx, const typename V::F& gy) {
  using F = typename V::F;
  const F length = gx * gx + gy * gy;
  live &= ~(length < 0.04f);
  const F step = clampBound(delta / length, both(typename V::HF{} - 8.0f), both(typename V::HF{} + 8.0f));
  const F nx = clampBound(px + gx * step, F{}, m.lastColumnF);
  const F ny = clampBound(py + gy * step, F{}, m.lastRowF);
  px = select(live, nx, px);
  py = select(live, ny, py);
}

template <class T>
VURLE_INLINE T absolute(const T& v) {
  return reinterpret_cast<T>(reinterpret_cast<decltype(less(v, v))>(v) & 0x7fffffff);
}
template <class T>
VURLE_INLINE Two<T> absolute(const Two<T>& v) {
  return {absolute(v.s), absolute(v.t)};
}

// Projection of the group's pixels onto level d of both fields. The first
// step's value and gradient come from the integer neighbours (given); steps 2
// and 3 use bilinear samples. `processed` are the lanes to project.
template <class V>
VURLE_INLINE void project(const FieldSides& field, const MorphFrame<V>& m, const typename V::I& processed,
                          const typename V::F& d, const typename V::F& self, const typename V::F& gx,
                          const typename V::F& gy, typename V::F& px, typename V::F& py) {
  using F = typename V::F;
  using I = typename V::I;
  I live = processed;
  {
    const F delta = d - self;
    live &= ~(absolute(delta) < 0.05f);
    if (V::bits(live) == 0) return;
    advance(m, live, px, py, delta, gx, gy);
  }
  for (int step = 2; step <= 3; ++step) {
    if (V::bits(live) == 0) return;
    // p lies in [0, last] on every lane (it starts on a pixel and every
    // update clamps it), so the clamp of axis(p) leaves p as it is, that of
    // axis(p + 1) is only the upper bound and that of axis(p - 1) only the
    // lower one (p - 1 < last).
    const Axis<V> ax = axisFromClamped<V>(px, m.lastColumnI);
    const Axis<V> ay = axisFromClamped<V>(py, m.lastRowI);
    const Axis<V> axPlus = axisFromClamped<V>(minBound(px + 1.0f, m.lastColumnF), m.lastColumnI);
    const Axis<V> axMinus = axisFromClamped<V>(maxBound(px - 1.0f, F{}), m.lastColumnI);
    const Axis<V> ayPlus = axisFromClamped<V>(minBound(py + 1.0f, m.lastRowF), m.lastRowI);
    const Axis<V> ayMinus = axisFromClamped<V>(maxBound(py - 1.0f, F{}), m.lastRowI);
    F delta, sgx, sgy;
    const I regular = neighbourhood<V>(ax, axPlus, axMinus) & neighbourhood<V>(ay, ayPlus, ayMinus);
    if (m.neighbourhoodFits && V::bits(regular | ~live) == V::allLanes) {
      // The five samples read a 4 x 4 neighbourhood without its corners:
      // twelve taps in six horizontal pairs, each read once. Stopped lanes
      // read around pixel (1, 1) instead, which is inside from 4 x 4 on.
      const I centre = select(live, V::mulIndex(ay.low, m.widthI) + ax.low, m.widthI + 1);
      const typename V::Indices at = V::indices(centre - 1);  // row low, column low - 1
      const ptrdiff_t w = m.width;
      F q[4], r[4];  // rows low and low + 1, columns low - 1 .. low + 2
      V::quadsAt(at, field.s, field.t, 0, q);
      V::quadsAt(at, field.s, field.t, w, r);
      const F &q0 = q[0], &q1 = q[1], &q2 = q[2], &q3 = q[3];
      const F &r0 = r[0], &r1 = r[1], &r2 = r[2], &r3 = r[3];
      delta = d - lerp2<V>(q1, q2, r1, r2, ax.fraction, ay.fraction);
      live &= ~(absolute(delta) < 0.05f);
      if (V::bits(live) == 0) return;
      F above0, above1, below0, below1;  // rows low - 1 and low + 2, columns low, low + 1
      V::pairsAt(at, field.s, field.t, 1 - w, above0, above1);
      V::pairsAt(at, field.s, field.t, 2 * w + 1, below0, below1);
      sgx = (lerp2<V>(q2, q3, r2, r3, axPlus.fraction, ay.fraction) -
             lerp2<V>(q0, q1, r0, r1, axMinus.fraction, ay.fraction)) *
            0.5f;
      sgy = (lerp2<V>(r1, r2, below0, below1, ax.fraction, ayPlus.fraction) -
             lerp2<V>(above0, above1, q1, q2, ax.fraction, ayMinus.fraction)) *
            0.5f;
    } else if (m.width >= 2) {
      delta = d - bilinearPairs(field, m, ax, ay);
      live &= ~(absolute(delta) < 0.05f);
      if (V::bits(live) == 0) return;
      sgx = (bilinearPairs(field, m, axPlus, ay) - bilinearPairs(field, m, axMinus, ay)) * 0.5f;
      sgy = (bilinearPairs(field, m, ax, ayPlus) - bilinearPairs(field, m, ax, ayMinus)) * 0.5f;
    } else {
      delta = d - bilinear(field, m, ax, ay);
      live &= ~(absolute(delta) < 0.05f);
      if (V::bits(live) == 0) return;
      sgx = (bilinear(field, m, axPlus, ay) - bilinear(field, m, axMinus, ay)) * 0.5f;
      sgy = (bilinear(field, m, ax, ayPlus) - bilinear(field, m, ax, ayMinus)) * 0.5f;
    }
    advance(m, live, px, py, delta, sgx, sgy);
  }
}

// Colours at points p (source side: `from`, target side: `to`), four
// component vectors 0..255 as floats; (0, 0, 0, 0) where p lies outside
// [0, width - 1) x [0, height - 1).
template <class V>
VURLE_INLINE void colour(const ImageSides& image, const MorphFrame<V>& m, const typename V::F& px,
                         const typename V::F& py, typename V::F out[4]) {
  using F = typename V::F;
  using I = typename V::I;
  using U = typename V::U;
  if (m.width < 2 || m.height < 2) {
    // p.x >= width - 1 or p.y >= height - 1 for every point.
    for (int k = 0; k < 4; ++k) out[k] = F{};
    return;
  }
  // Lanes outside sample pixel 0; its four taps exist from 2 x 2 on.
  const I inside = ~(px < 0.0f) & ~(py < 0.0f) & ~(px >= m.lastColumnF) & ~(py >= m.lastRowF);
  const F sx = select(inside, px, F{});
  const F sy = select(inside, py, F{});
  const I ix = V::toInt(sx);
  const I iy = V::toInt(sy);
  const F tx = sx - V::toFloat(ix);
  const F ty = sy - V::toFloat(iy);
  const I i = V::mulIndex(iy, m.widthI) + ix;
  F upper0, upper1, lower0, lower1;
  const typename V::Indices at = V::indices(i);
  V::pairsAt(at, image.s, image.t, 0, upper0, upper1);
  V::pairsAt(at, image.s, image.t, m.width, lower0, lower1);
  const U a = V::asBits(upper0), b = V::asBits(upper1), c = V::asBits(lower0), e = V::asBits(lower1);
  const F oneMinusTy = 1.0f - ty;
  for (int k = 0; k < 4; ++k) {
    const int shift = 8 * k;
    const F ak = V::byteAt(a, shift), bk = V::byteAt(b, shift), ck = V::byteAt(c, shift), ek = V::byteAt(e, shift);
    const F blended = (ak + (bk - ak) * tx) * oneMinusTy + (ck + (ek - ck) * tx) * ty;
    out[k] = select(inside, blended, F{});
  }
}

// fmin(fmax(round(v), 0), 255) as an integer, with round() halving away from
// zero. Clamping first is the same (round is monotone and the bounds are
// whole), a NaN ends as 0 in both, and for 0 <= w <= 255 round(w) is
// trunc(w) + (w - trunc(w) >= 0.5), where w - trunc(w) is exact.
template <class H>
VURLE_INLINE typename H::I roundToByte(const typename H::F& v) {
  using F = typename H::F;
  using I = typename H::I;
  const F w = clampBound(v, F{}, F{} + 255.0f);
  const I whole = __builtin_convertvector(w, I);
  const F fraction = w - __builtin_convertvector(whole, F);
  return whole - greaterEqual(fraction, F{} + 0.5f);  // a true comparison is -1
}

template <class H>
VURLE_INLINE void morphBody(const float* __restrict source, const float* __restrict target,
                            const uint8_t* __restrict fromRGBA, const uint8_t* __restrict toRGBA,
                            uint8_t* __restrict output, int32_t width, int32_t height, float progress, float scale) {
  using V = Doubled<H>;
  using HF = typename H::F;
  using HI = typename H::I;
  using HU = typename H::U;
  constexpr int L = H::lanes;
  const float cutoff = scale * -18.0f;
  const HF cutoffV = HF{} + cutoff;
  MorphFrame<V> m;
  m.width = width;
  m.height = height;
  m.widthI = both(HI{} + width);
  m.lastColumnI = both(HI{} + (width - 1));
  m.lastRowI = both(HI{} + (height - 1));
  m.lastColumnF = both(HF{} + static_cast<float>(width - 1));
  m.lastRowF = both(HF{} + static_cast<float>(height - 1));
  m.neighbourhoodFits = width >= 4 && height >= 4;
  const HI lane = H::iota();
  const HI lastColumn = HI{} + (width - 1);
  const HI lastRow = HI{} + (height - 1);
  const FieldSides fields{source, target};
  const ImageSides images{fromRGBA, toRGBA};
  // Groups of L consecutive pixels in row-major order; a group may run on
  // into the next row, so that no lane is wasted at the end of a row.
  const int32_t n = width * height;
  for (int32_t i0 = 0; i0 < n; i0 += L) {
    const int32_t remaining = n - i0;
    const bool full = remaining >= L;
    const HF s = full ? H::load(source + i0) : loadPartial<H>(source + i0, remaining);
    const HF t = full ? H::load(target + i0) : loadPartial<H>(target + i0, remaining);
    const HF d = s + progress * (t - s);
    HI active = ~less(d, cutoffV);  // a NaN d is processed, as in the definition
    if (!full) active &= less(lane, HI{} + remaining);
    const uint32_t activeBits = H::bits(active);
    if (activeBits == 0) continue;

    // The lanes' pixel coordinates; lanes past the end (never active) are
    // kept on the last pixel, so that every lane's point lies on the canvas.
    const int32_t y0 = i0 / width;
    const int32_t x0 = i0 - y0 * width;
    HI x = x0 + lane;
    HI y = HI{} + y0;
    for (HI wrap = greater(x, lastColumn); H::bits(wrap) != 0; wrap = greater(x, lastColumn)) {
      x = choose(wrap, x - width, x);
      y = choose(wrap, y + 1, y);
    }
    const HI beyond = greater(y, lastRow);
    x = choose(beyond, lastColumn, x);
    y = choose(beyond, lastRow, y);

    // Integer neighbours for the first Newton step: left = max(x - 1, 0),
    // right = min(x + 1, width - 1), likewise up and down; at an edge the
    // neighbour is the pixel itself.
    HF sLeft, sRight, sTop, sBottom, tLeft, tRight, tTop, tBottom;
    if (full && i0 >= width && i0 + L + width <= n) {
      // Every lane has a row above and below; loads one pixel to the left
      // or right wrap to the neighbouring row only on its first or last
      // column, where the pixel itself is taken instead.
      const HI atLeft = equal(x, HI{});
      const HI atRight = equal(x, lastColumn);
      sLeft = choose(atLeft, s, H::load(source + i0 - 1));
      sRight = choose(atRight, s, H::load(source + i0 + 1));
      tLeft = choose(atLeft, t, H::load(target + i0 - 1));
      tRight = choose(atRight, t, H::load(target + i0 + 1));
      sTop = H::load(source + i0 - width);
      sBottom = H::load(source + i0 + width);
      tTop = H::load(target + i0 - width);
      tBottom = H::load(target + i0 + width);
    } else {
      const HI i = H::mulIndex(y, HI{} + width) + x;
      const HI left = i - choose(greater(x, HI{}), HI{} + 1, HI{});
      const HI right = i + choose(less(x, lastColumn), HI{} + 1, HI{});
      const HI up = i - choose(greater(y, HI{}), HI{} + width, HI{});
      const HI down = i + choose(less(y, lastRow), HI{} + width, HI{});
      sLeft = H::gather(source, left);
      sRight = H::gather(source, right);
      sTop = H::gather(source, up);
      sBottom = H::gather(source, down);
      tLeft = H::gather(target, left);
      tRight = H::gather(target, right);
      tTop = H::gather(target, up);
      tBottom = H::gather(target, down);
    }

    const HF xf = __builtin_convertvector(x, HF);
    const HF yf = __builtin_convertvector(y, HF);
    typename V::F px = both(xf), py = both(yf);
    project<V>(fields, m, both(active), both(d), {s, t}, {(sRight - sLeft) * 0.5f, (tRight - tLeft) * 0.5f},
               {(sBottom - sTop) * 0.5f, (tBottom - tTop) * 0.5f}, px, py);

    typename V::F colours[4];  // source side: `from` at a; target side: `to` at b
    colour<V>(images, m, px, py, colours);
    HU packed = HU{};
    for (int k = 0; k < 4; ++k) {
      const HF f = colours[k].s;
      const HF g = colours[k].t;
      const HF value = f + progress * (g - f);
      packed |= reinterpret_cast<HU>(roundToByte<H>(value)) << (8 * k);
    }
    uint8_t* out = output + 4 * static_cast<size_t>(i0);
    if (full && activeBits == static_cast<uint32_t>((uint64_t{1} << L) - 1)) {
      H::storeI(out, reinterpret_cast<HI>(packed));
    } else {
      for (uint32_t bitsLeft = activeBits; bitsLeft != 0; bitsLeft &= bitsLeft - 1) {
        const int l = std::countr_zero(bitsLeft);
        const uint32_t word = packed[l];
        std::memcpy(out + 4 * l, &word, 4);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Comparisons (SSE2 is ample for the 4096-byte thumbnails they serve).

VURLE_INLINE bool hasVisibleAlphaBody(const uint8_t* __restrict rgba, int32_t byteCount) {
  const int64_t pixels = byteCount / 4;
  int64_t p = 0;
#if VURLE_KERNELS_X86
  const __m128i alphaMask = _mm_set1_epi32(static_cast<int>(0xff000000u));
  for (; p + 16 <= pixels; p += 16) {
    const uint8_t* q = rgba + 4 * p;
    __m128i any = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
    any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16)));
    any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 32)));
    any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 48)));
    any = _mm_and_si128(any, alphaMask);
    if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xffff) return true;
  }
#endif
  for (; p < pixels; ++p) {
    if (rgba[4 * p + 3] != 0) return true;
  }
  return false;
}

VURLE_INLINE bool imagesNearlyEqualBody(const uint8_t* __restrict a, const uint8_t* __restrict b, int32_t count) {
  const uint64_t sumLimit = 2 * uint64_t(count);
  const uint64_t bigLimit = uint64_t(count) / 100;
  uint64_t sum = 0;
  uint64_t big = 0;
  int32_t i = 0;
  // Both counters only grow, so testing the bounds after each block instead
  // of after each byte gives the same answer (64-bit counters cannot wrap).
#if VURLE_KERNELS_X86
  const __m128i twelve = _mm_set1_epi8(12);
  const __m128i zero = _mm_setzero_si128();
  constexpr int32_t kBlock = 256;
  while (count - i >= kBlock) {
    __m128i sums = zero;
    uint32_t small = 0;  // bytes differing by at most 12
    for (int32_t k = 0; k < kBlock; k += 16) {
      const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + i + k));
      const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i + k));
      sums = _mm_add_epi64(sums, _mm_sad_epu8(va, vb));
      const __m128i difference = _mm_or_si128(_mm_subs_epu8(va, vb), _mm_subs_epu8(vb, va));
      const __m128i atMostTwelve = _mm_cmpeq_epi8(_mm_subs_epu8(difference, twelve), zero);
      small += static_cast<uint32_t>(std::popcount(static_cast<uint32_t>(_mm_movemask_epi8(atMostTwelve))));
    }
    sum += static_cast<uint64_t>(_mm_cvtsi128_si64(sums)) +
           static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    big += uint64_t(kBlock) - small;
    if (sum > sumLimit || big > bigLimit) return false;
    i += kBlock;
  }
#endif
  for (; i < count; ++i) {
    const int difference = std::abs(int{a[i]} - int{b[i]});
    sum += uint64_t(difference);
    if (difference >= 13) ++big;
    if (sum > sumLimit || big > bigLimit) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Entry points per path.

struct PathTable {
  void (*signedDistanceField)(const uint8_t*, float*, float*, int32_t, int32_t);
  void (*chamferDistance)(const uint8_t*, float*, int32_t, int32_t, int32_t);
  void (*lerpField)(const float*, const float*, float*, int32_t, float);
  void (*padRaster)(const float*, const uint8_t*, float*, uint8_t*, int32_t, int32_t, int32_t, int32_t, int32_t,
                    int32_t);
  void (*morphCPU)(const float*, const float*, const uint8_t*, const uint8_t*, uint8_t*, int32_t, int32_t, float,
                   float);
};

#define VURLE_DEFINE_PATH(NAME, POLICY, ATTRIBUTES)                                                               \
  ATTRIBUTES void NAME##SignedDistance(const uint8_t* rgba, float* out, float* scratch, int32_t width,            \
                                       int32_t height) {                                                          \
    signedDistanceBody<POLICY>(rgba, out, scratch, width, height);                                                \
  }                                                                                                               \
  ATTRIBUTES void NAME##Chamfer(const uint8_t* rgba, float* out, int32_t width, int32_t height, int32_t inside) { \
    chamferBody<POLICY>(rgba, out, width, height, inside);                                                        \
  }                                                                                                               \
  ATTRIBUTES void NAME##Lerp(const float* a, const float* b, float* out, int32_t count, float t) {                \
    lerpBody<POLICY>(a, b, out, count, t);                                                                        \
  }                                                                                                               \
  ATTRIBUTES void NAME##Pad(const float* sf, const uint8_t* sc, float* df, uint8_t* dc, int32_t sw, int32_t sh,   \
                            int32_t dw, int32_t dh, int32_t ox, int32_t oy) {                                     \
    padBody<POLICY>(sf, sc, df, dc, sw, sh, dw, dh, ox, oy);                                                      \
  }                                                                                                               \
  ATTRIBUTES void NAME##Morph(const float* source, const float* target, const uint8_t* from, const uint8_t* to,   \
                              uint8_t* output, int32_t width, int32_t height, float progress, float scale) {      \
    morphBody<POLICY>(source, target, from, to, output, width, height, progress, scale);                          \
  }                                                                                                               \
  constexpr PathTable NAME##Table{NAME##SignedDistance, NAME##Chamfer, NAME##Lerp, NAME##Pad, NAME##Morph};

VURLE_DEFINE_PATH(baseline, Baseline, __attribute__((flatten)))
#if VURLE_KERNELS_X86
VURLE_DEFINE_PATH(avx2, Avx2, __attribute__((target("avx2"), flatten)))
VURLE_DEFINE_PATH(avx512, Avx512, __attribute__((target("avx512f,avx512dq,avx512vl,avx512bw"), flatten)))
#endif

#undef VURLE_DEFINE_PATH

bool supported(kernels_detail::KernelPath path) {
  switch (path) {
    case kernels_detail::KernelPath::baseline:
      return true;
    case kernels_detail::KernelPath::avx2:
#if VURLE_KERNELS_X86
      return __builtin_cpu_supports("avx2");
#else
      return false;
#endif
    case kernels_detail::KernelPath::avx512:
#if VURLE_KERNELS_X86
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
             __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512bw");
#else
      return false;
#endif
  }
  return false;
}

kernels_detail::KernelPath bestPath() {
  using kernels_detail::KernelPath;
  for (KernelPath path : {KernelPath::avx512, KernelPath::avx2}) {
    if (supported(path)) return path;
  }
  return KernelPath::baseline;
}

std::atomic<kernels_detail::KernelPath>& pathInForce() {
  static std::atomic<kernels_detail::KernelPath> path{bestPath()};
  return path;
}

const PathTable& table() {
#if VURLE_KERNELS_X86
  switch (pathInForce().load(std::memory_order_relaxed)) {
    case kernels_detail::KernelPath::avx512:
      return avx512Table;
    case kernels_detail::KernelPath::avx2:
      return avx2Table;
    case kernels_detail::KernelPath::baseline:
      break;
  }
#endif
  return baselineTable;
}

// Canvases with a side beyond 32767 pixels (far beyond the pipeline's 4096)
// take the plain loops.
// The vector paths multiply row numbers by the width with 16-bit products.
bool fitsVectorIndices(int32_t width, int32_t height) { return width <= 32767 && height <= 32767; }

}  // namespace

void signedDistanceField(const uint8_t* rgba, float* out, float* scratch, int32_t width, int32_t height) {
  if (width < 1 || height < 1) return;
  table().signedDistanceField(rgba, out, scratch, width, height);
}

void chamferDistance(const uint8_t* rgba, float* out, int32_t width, int32_t height, int32_t inside) {
  if (width < 1 || height < 1) return;
  table().chamferDistance(rgba, out, width, height, inside);
}

void lerpField(const float* a, const float* b, float* out, int32_t count, float t) {
  if (count < 1) return;
  table().lerpField(a, b, out, count, t);
}

bool padRaster(const float* sourceField, const uint8_t* sourceRGBA, float* destinationField, uint8_t* destinationRGBA,
               int32_t sourceWidth, int32_t sourceHeight, int32_t destinationWidth, int32_t destinationHeight,
               int32_t offsetX, int32_t offsetY) {
  if (sourceWidth < 0 || sourceHeight < 0 || destinationWidth < 0 || destinationHeight < 0) return false;
  if (offsetX < 0 || offsetY < 0) return false;
  if (int64_t{offsetX} + sourceWidth > destinationWidth) return false;
  if (int64_t{offsetY} + sourceHeight > destinationHeight) return false;
  const bool destinationHasPixels = destinationWidth >= 1 && destinationHeight >= 1;
  const bool sourceHasPixels = sourceWidth >= 1 && sourceHeight >= 1;
  if (destinationHasPixels && !sourceHasPixels) return false;
  if (!destinationHasPixels) {
    // Only zero-width copies can remain; nothing to write.
    return true;
  }
  table().padRaster(sourceField, sourceRGBA, destinationField, destinationRGBA, sourceWidth, sourceHeight,
                    destinationWidth, destinationHeight, offsetX, offsetY);
  return true;
}

void morphCPU(const float* source, const float* target, const uint8_t* fromRGBA, const uint8_t* toRGBA, uint8_t* output,
              int32_t width, int32_t height, float progress, float scale) {
  if (width < 1 || height < 1) return;
  if (!fitsVectorIndices(width, height)) {
    reference::morphCPU(source, target, fromRGBA, toRGBA, output, width, height, progress, scale);
    return;
  }
  table().morphCPU(source, target, fromRGBA, toRGBA, output, width, height, progress, scale);
}

bool hasVisibleAlpha(const uint8_t* rgba, int32_t byteCount) {
  if (byteCount < 4) return false;
  return hasVisibleAlphaBody(rgba, byteCount);
}

bool imagesNearlyEqual(const uint8_t* a, const uint8_t* b, int32_t count) {
  if (count < 1) return true;
  return imagesNearlyEqualBody(a, b, count);
}

namespace kernels_detail {

bool pathSupported(KernelPath path) { return supported(path); }

KernelPath currentPath() { return pathInForce().load(); }

KernelPath setPathForTesting(KernelPath path) {
  if (!supported(path)) return pathInForce().load();
  return pathInForce().exchange(path);
}

}  // namespace kernels_detail

}  // namespace vurle
