// The row kernels at AVX-512 width: sixteen 32-bit lanes. Every function
// here carries the target attribute below and is reached only through
// Avx512Kernels(), which the loop calls only after the processor reported
// the foundation, byte-and-word and doubleword-and-quadword sets and FMA.
// Comparisons answer in mask registers; the shared kernels want lane masks,
// so each comparison widens its mask into one.

// GCC 12's own AVX-512 headers start some intrinsics from an undefined
// register and then warn, at their own lines, that it may be used
// uninitialised; the warning is about the header, so it is silenced before
// the header is read.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "render/row_kernels.h"

namespace lenstrove {
namespace fast {
namespace {

#define LS_TARGET __attribute__((target("avx512f,avx512bw,avx512dq,fma")))

using VF = __m512;
using VI = __m512i;
constexpr int32_t kPixels = 16;
constexpr size_t kVectorBytes = 64;

LS_TARGET inline VF LaneMask(__mmask16 m) { return _mm512_castsi512_ps(_mm512_movm_epi32(m)); }

LS_TARGET inline VF FSet1(float v) { return _mm512_set1_ps(v); }
LS_TARGET inline VF FAdd(VF a, VF b) { return _mm512_add_ps(a, b); }
LS_TARGET inline VF FMul(VF a, VF b) { return _mm512_mul_ps(a, b); }
LS_TARGET inline VF FMulAddExactProduct(VF a, VF b, VF c) { return _mm512_fmadd_ps(a, b, c); }
LS_TARGET inline VF FMin(VF a, VF b) { return _mm512_min_ps(a, b); }
LS_TARGET inline VF FMax(VF a, VF b) { return _mm512_max_ps(a, b); }
LS_TARGET inline VF FAnd(VF a, VF b) { return _mm512_and_ps(a, b); }
LS_TARGET inline VF FOr(VF a, VF b) { return _mm512_or_ps(a, b); }
LS_TARGET inline VF FAndNot(VF mask, VF b) { return _mm512_andnot_ps(mask, b); }
LS_TARGET inline VF FCmpLT(VF a, VF b) { return LaneMask(_mm512_cmp_ps_mask(a, b, _CMP_LT_OQ)); }
LS_TARGET inline VF FCmpLE(VF a, VF b) { return LaneMask(_mm512_cmp_ps_mask(a, b, _CMP_LE_OQ)); }
LS_TARGET inline VF FCmpGT(VF a, VF b) { return LaneMask(_mm512_cmp_ps_mask(a, b, _CMP_GT_OQ)); }
LS_TARGET inline VF FCmpGE(VF a, VF b) { return LaneMask(_mm512_cmp_ps_mask(a, b, _CMP_GE_OQ)); }
LS_TARGET inline bool FAnyNaN(VF a) { return _mm512_cmp_ps_mask(a, a, _CMP_UNORD_Q) != 0; }
LS_TARGET inline VI FCvtTrunc(VF a) { return _mm512_cvttps_epi32(a); }
LS_TARGET inline void FStore(float* p, VF v) { _mm512_storeu_ps(p, v); }

LS_TARGET inline VI ISet1(int32_t v) { return _mm512_set1_epi32(v); }
LS_TARGET inline VI IAnd(VI a, VI b) { return _mm512_and_si512(a, b); }
LS_TARGET inline VI IOr(VI a, VI b) { return _mm512_or_si512(a, b); }
// acc + 1 in the lanes where a > b; a masked addition.
LS_TARGET inline VI IIncrementWhereGreater(VI acc, VI a, VI b) {
  return _mm512_mask_add_epi32(acc, _mm512_cmpgt_epi32_mask(a, b), acc, _mm512_set1_epi32(1));
}
// Bytes to 16-bit lanes and back; both work within 128-bit quarters, so a
// widen followed by a narrow keeps every byte in its place.
LS_TARGET inline VI IWidenLow(VI a) { return _mm512_unpacklo_epi8(a, _mm512_setzero_si512()); }
LS_TARGET inline VI IWidenHigh(VI a) { return _mm512_unpackhi_epi8(a, _mm512_setzero_si512()); }
LS_TARGET inline VI INarrow(VI low, VI high) { return _mm512_packus_epi16(low, high); }
LS_TARGET inline VI I16Add(VI a, VI b) { return _mm512_add_epi16(a, b); }
LS_TARGET inline VI I16Mul(VI a, VI b) { return _mm512_mullo_epi16(a, b); }
LS_TARGET inline VI I16Shr8(VI a) { return _mm512_srli_epi16(a, 8); }
LS_TARGET inline VI I16MulHigh(VI a, VI b) { return _mm512_mulhi_epu16(a, b); }
LS_TARGET inline VI IShl8(VI a) { return _mm512_slli_epi32(a, 8); }
LS_TARGET inline VI IShl16(VI a) { return _mm512_slli_epi32(a, 16); }
LS_TARGET inline VF ICvtFloat(VI a) { return _mm512_cvtepi32_ps(a); }
LS_TARGET inline VI ILoad(const unsigned char* p) { return _mm512_loadu_si512(p); }
LS_TARGET inline void IStore(unsigned char* p, VI v) { _mm512_storeu_si512(p, v); }
LS_TARGET inline void IStream(unsigned char* p, VI v) { _mm512_stream_si512(reinterpret_cast<__m512i*>(p), v); }

LS_TARGET inline VI IAndNot(VI mask, VI b) { return _mm512_andnot_si512(mask, b); }
// Colour bytes whose alpha byte is zero, with the alpha byte of stored: one
// masked byte blend.
LS_TARGET inline VI WithAlphaOf(VI colour, VI stored) {
  return _mm512_mask_blend_epi8(0x8888888888888888ull, colour, stored);
}
LS_TARGET inline VI FAsInt(VF a) { return _mm512_castps_si512(a); }

// Byte Channel of each pixel, repeated in the low three bytes of its lane
// (b * 0x010101), by one byte shuffle; index -1 clears the top byte. The
// shuffle works within each 128-bit quarter, which holds four whole pixels.
template <int Channel>
LS_TARGET inline VI RepeatByte(VI stored) {
  constexpr char c = Channel;
  const __m128i quarter = _mm_setr_epi8(c, c, c, -1, 4 + c, 4 + c, 4 + c, -1, 8 + c, 8 + c, 8 + c, -1, 12 + c,
                                        12 + c, 12 + c, -1);
  return _mm512_shuffle_epi8(stored, _mm512_broadcast_i32x4(quarter));
}

#define LS_HAS_LOOKUPS 1

// Sixteen bytes picked by the low four bits of each byte: one byte shuffle,
// the table held in every 128-bit quarter.
using Table16 = VI;
LS_TARGET inline Table16 MakeTable16(const int8_t* entries) {
  return _mm512_broadcast_i32x4(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}
LS_TARGET inline VI LookUp16(Table16 t, VI index) { return _mm512_shuffle_epi8(t, index); }

// Eight 32-bit entries picked by the low three bits of each lane. The
// permute reads four bits, so the table is held twice over.
using Table8 = VI;
LS_TARGET inline Table8 MakeTable8(const uint32_t* entries) {
  return _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries)));
}
LS_TARGET inline Table8 MakeTable8(const int32_t* entries) {
  return _mm512_broadcast_i64x4(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries)));
}
LS_TARGET inline VI LookUp8(Table8 t, VI index) { return _mm512_permutexvar_epi32(index, t); }
// A gray byte's cell, (g * kFalseColorCellFromGray) >> 16: one 16-bit
// multiply, the high half of each lane being zero.
LS_TARGET inline VI CellOfGray(VI gray) { return _mm512_mulhi_epu16(gray, ISet1(kFalseColorCellFromGray)); }
// whenNegative where selector's top bit is set, else otherwise.
LS_TARGET inline VI IWhereNegative(VI selector, VI whenNegative, VI otherwise) {
  return _mm512_mask_blend_epi32(_mm512_movepi32_mask(selector), otherwise, whenNegative);
}

// Sixteen RGBA float pixels, four per register, to one register per
// channel and back. The transpose stays inside each 128-bit quarter, so
// quarter q of the channel registers holds pixels q, 4 + q, 8 + q and
// 12 + q, and the same transpose puts them back. Shuffles move bits without
// arithmetic, so NaN payloads survive.
LS_TARGET inline void Transpose(VF& v0, VF& v1, VF& v2, VF& v3) {
  const VF t0 = _mm512_unpacklo_ps(v0, v1);
  const VF t1 = _mm512_unpackhi_ps(v0, v1);
  const VF t2 = _mm512_unpacklo_ps(v2, v3);
  const VF t3 = _mm512_unpackhi_ps(v2, v3);
  v0 = _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  v1 = _mm512_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  v2 = _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  v3 = _mm512_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

LS_TARGET inline void LoadFloatPixels(const unsigned char* p, VF& r, VF& g, VF& b, VF& a) {
  const float* f = reinterpret_cast<const float*>(p);
  r = _mm512_loadu_ps(f);
  g = _mm512_loadu_ps(f + 16);
  b = _mm512_loadu_ps(f + 32);
  a = _mm512_loadu_ps(f + 48);
  Transpose(r, g, b, a);
}

LS_TARGET inline void StoreFloatPixels(unsigned char* p, VF r, VF g, VF b, VF a, bool stream) {
  Transpose(r, g, b, a);
  float* f = reinterpret_cast<float*>(p);
  if (stream) {
    _mm512_stream_ps(f, r);
    _mm512_stream_ps(f + 16, g);
    _mm512_stream_ps(f + 32, b);
    _mm512_stream_ps(f + 48, a);
  } else {
    _mm512_storeu_ps(f, r);
    _mm512_storeu_ps(f + 16, g);
    _mm512_storeu_ps(f + 32, b);
    _mm512_storeu_ps(f + 48, a);
  }
}

#include "render/row_kernels_simd.inc"

#undef LS_TARGET
#undef LS_HAS_LOOKUPS

}  // namespace

const KernelSet& Avx512Kernels() {
  static constexpr KernelSet kSet{Copy, ByteRun, FloatRun, ReadByteChannels};
  return kSet;
}

}  // namespace fast
}  // namespace lenstrove
