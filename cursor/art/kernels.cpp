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
// policy" (Baseline: SSE2, 4 lanes; Avx2: 8 lanes; Avx512: 16 lanes), in
// kernels_body.inc, and compiled once per policy. The entry points of a path carry its target
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
// The bodies, once per path.
//
// Each path gets its own copy of the bodies in its own namespace, so that a
// copy serves one policy only. GCC compiles the forced-inline helpers inside
// the entry point that inlines them, for that entry point's target. Clang
// instead checks every call that passes or returns a wide vector against the
// target of the calling function itself, before inlining, and refuses a call
// from a baseline helper into an AVX-512 one; under clang the whole copy of a
// path therefore carries the path's target.

namespace baseline_path {
#include "cursor/art/kernels_body.inc"
}  // namespace baseline_path

#if VURLE_KERNELS_X86
#if defined(__clang__)
#pragma clang attribute push(__attribute__((target("avx2"))), apply_to = function)
#endif
namespace avx2_path {
#include "cursor/art/kernels_body.inc"
}  // namespace avx2_path
#if defined(__clang__)
#pragma clang attribute pop
#pragma clang attribute push(__attribute__((target("avx512f,avx512dq,avx512vl,avx512bw"))), apply_to = function)
#endif
namespace avx512_path {
// Comparisons and choices of 64-byte vectors as functions of their own,
// compiled for AVX-512: written inline in a template that GCC later inlines
// into an AVX-512 function, they are expanded one element at a time (their
// mask type is fixed in the template's own, baseline context). Declared
// before the bodies, which prefer them to their generic templates.
VURLE_AVX512 inline Avx512::I less(const Avx512::F& a, const Avx512::F& b) { return a < b; }
VURLE_AVX512 inline Avx512::I greater(const Avx512::F& a, const Avx512::F& b) { return a > b; }
VURLE_AVX512 inline Avx512::I greaterEqual(const Avx512::F& a, const Avx512::F& b) { return a >= b; }
VURLE_AVX512 inline Avx512::I less(const Avx512::I& a, const Avx512::I& b) { return a < b; }
VURLE_AVX512 inline Avx512::I greater(const Avx512::I& a, const Avx512::I& b) { return a > b; }
VURLE_AVX512 inline Avx512::I equal(const Avx512::I& a, const Avx512::I& b) { return a == b; }
VURLE_AVX512 inline Avx512::F choose(const Avx512::I& m, const Avx512::F& a, const Avx512::F& b) { return m ? a : b; }
VURLE_AVX512 inline Avx512::I choose(const Avx512::I& m, const Avx512::I& a, const Avx512::I& b) { return m ? a : b; }

#include "cursor/art/kernels_body.inc"
}  // namespace avx512_path
#if defined(__clang__)
#pragma clang attribute pop
#endif
#endif
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

#define VURLE_DEFINE_PATH(NAME, POLICY, ATTRIBUTES)                                                                    \
  ATTRIBUTES void NAME##SignedDistance(const uint8_t* rgba, float* out, float* scratch, int32_t width,                 \
                                       int32_t height) {                                                               \
    NAME##_path::signedDistanceBody<POLICY>(rgba, out, scratch, width, height);                                        \
  }                                                                                                                    \
  ATTRIBUTES void NAME##Chamfer(const uint8_t* rgba, float* out, int32_t width, int32_t height, int32_t inside) {      \
    NAME##_path::chamferBody<POLICY>(rgba, out, width, height, inside);                                                \
  }                                                                                                                    \
  ATTRIBUTES void NAME##Lerp(const float* a, const float* b, float* out, int32_t count, float t) {                     \
    NAME##_path::lerpBody<POLICY>(a, b, out, count, t);                                                                \
  }                                                                                                                    \
  ATTRIBUTES void NAME##Pad(const float* sf, const uint8_t* sc, float* df, uint8_t* dc, int32_t sw, int32_t sh,        \
                            int32_t dw, int32_t dh, int32_t ox, int32_t oy) {                                          \
    NAME##_path::padBody<POLICY>(sf, sc, df, dc, sw, sh, dw, dh, ox, oy);                                              \
  }                                                                                                                    \
  ATTRIBUTES void NAME##Morph(const float* source, const float* target, const uint8_t* from, const uint8_t* to,        \
                              uint8_t* output, int32_t width, int32_t height, float progress, float scale) {           \
    NAME##_path::morphBody<POLICY>(source, target, from, to, output, width, height, progress, scale);                  \
  }                                                                                                                    \
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
