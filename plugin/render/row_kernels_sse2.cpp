// The row kernels at SSE2 width: four 32-bit lanes. SSE2 is part of every
// x86-64 processor, so this is the baseline vector width. It has no byte
// shuffle and no lane permute, so bytes are taken apart with shifts and
// masks, and false colour builds its colour from comparisons.

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "render/row_kernels.h"

namespace lenstrove {
namespace fast {
namespace {

#define LS_TARGET

using VF = __m128;
using VI = __m128i;
constexpr int32_t kPixels = 4;
constexpr size_t kVectorBytes = 16;

inline VF FSet1(float v) { return _mm_set1_ps(v); }
inline VF FAdd(VF a, VF b) { return _mm_add_ps(a, b); }
inline VF FSub(VF a, VF b) { return _mm_sub_ps(a, b); }
inline VF FMul(VF a, VF b) { return _mm_mul_ps(a, b); }
inline VF FMulAddExactProduct(VF a, VF b, VF c) { return FAdd(FMul(a, b), c); }
inline VF FMin(VF a, VF b) { return _mm_min_ps(a, b); }
inline VF FMax(VF a, VF b) { return _mm_max_ps(a, b); }
inline VF FAnd(VF a, VF b) { return _mm_and_ps(a, b); }
inline VF FOr(VF a, VF b) { return _mm_or_ps(a, b); }
inline VF FAndNot(VF mask, VF b) { return _mm_andnot_ps(mask, b); }
inline VF FCmpLT(VF a, VF b) { return _mm_cmplt_ps(a, b); }
inline VF FCmpLE(VF a, VF b) { return _mm_cmple_ps(a, b); }
inline VF FCmpGT(VF a, VF b) { return _mm_cmpgt_ps(a, b); }
inline VF FCmpGE(VF a, VF b) { return _mm_cmpge_ps(a, b); }
inline bool FAnyNaN(VF a) { return _mm_movemask_ps(_mm_cmpunord_ps(a, a)) != 0; }
inline VI FCvtTrunc(VF a) { return _mm_cvttps_epi32(a); }
inline void FStore(float* p, VF v) { _mm_storeu_ps(p, v); }

inline VI ISet1(int32_t v) { return _mm_set1_epi32(v); }
inline VI IAnd(VI a, VI b) { return _mm_and_si128(a, b); }
inline VI IOr(VI a, VI b) { return _mm_or_si128(a, b); }
inline VI ICmpGT(VI a, VI b) { return _mm_cmpgt_epi32(a, b); }
inline VI IWidenLow(VI a) { return _mm_unpacklo_epi8(a, _mm_setzero_si128()); }
inline VI IWidenHigh(VI a) { return _mm_unpackhi_epi8(a, _mm_setzero_si128()); }
inline VI INarrow(VI low, VI high) { return _mm_packus_epi16(low, high); }
inline VI I16Add(VI a, VI b) { return _mm_add_epi16(a, b); }
inline VI I16Mul(VI a, VI b) { return _mm_mullo_epi16(a, b); }
inline VI I16Shr8(VI a) { return _mm_srli_epi16(a, 8); }
inline VI I16MulHigh(VI a, VI b) { return _mm_mulhi_epu16(a, b); }
inline VI IShl8(VI a) { return _mm_slli_epi32(a, 8); }
inline VI IShl16(VI a) { return _mm_slli_epi32(a, 16); }
inline VF ICvtFloat(VI a) { return _mm_cvtepi32_ps(a); }
inline VI ILoad(const unsigned char* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void IStore(unsigned char* p, VI v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
inline void IStream(unsigned char* p, VI v) { _mm_stream_si128(reinterpret_cast<__m128i*>(p), v); }

inline VI IAndNot(VI mask, VI b) { return _mm_andnot_si128(mask, b); }
// Colour bytes whose alpha byte is zero, with the alpha byte of stored.
inline VI WithAlphaOf(VI colour, VI stored) {
  return _mm_or_si128(colour, _mm_and_si128(stored, _mm_set1_epi32(static_cast<int32_t>(0xFF000000u))));
}
inline VI FAsInt(VF a) { return _mm_castps_si128(a); }

// Byte Channel of each pixel repeated in three bytes, b * 0x010101, as a
// float: that product is below 2^24, so multiplying the byte as a float is
// exact and cheaper than putting the copies in place with shifts.
template <int Channel>
inline VF RepeatedByteAsFloat(VI stored) {
  const VI b = _mm_and_si128(Channel == 0 ? stored : _mm_srli_epi32(stored, 8 * Channel), _mm_set1_epi32(0xFF));
  return _mm_mul_ps(ICvtFloat(b), _mm_set1_ps(0x010101));
}

// A lane value below 256 in each of the lane's low three bytes: times 257
// in the low 16 bits, then the third copy.
inline VI RepeatLowByte(VI value) {
  return _mm_or_si128(_mm_mullo_epi16(value, _mm_set1_epi32(0x101)), _mm_slli_epi32(value, 16));
}

// Four RGBA float pixels to one register per channel and back. Shuffles
// move bits without arithmetic, so NaN payloads survive.
inline void Transpose(VF& v0, VF& v1, VF& v2, VF& v3) {
  const VF t0 = _mm_unpacklo_ps(v0, v1);
  const VF t1 = _mm_unpackhi_ps(v0, v1);
  const VF t2 = _mm_unpacklo_ps(v2, v3);
  const VF t3 = _mm_unpackhi_ps(v2, v3);
  v0 = _mm_movelh_ps(t0, t2);
  v1 = _mm_movehl_ps(t2, t0);
  v2 = _mm_movelh_ps(t1, t3);
  v3 = _mm_movehl_ps(t3, t1);
}

inline void LoadFloatPixels(const unsigned char* p, VF& r, VF& g, VF& b, VF& a) {
  const float* f = reinterpret_cast<const float*>(p);
  r = _mm_loadu_ps(f);
  g = _mm_loadu_ps(f + 4);
  b = _mm_loadu_ps(f + 8);
  a = _mm_loadu_ps(f + 12);
  Transpose(r, g, b, a);
}

inline void StoreFloatPixels(unsigned char* p, VF r, VF g, VF b, VF a, bool stream) {
  Transpose(r, g, b, a);
  float* f = reinterpret_cast<float*>(p);
  if (stream) {
    _mm_stream_ps(f, r);
    _mm_stream_ps(f + 4, g);
    _mm_stream_ps(f + 8, b);
    _mm_stream_ps(f + 12, a);
  } else {
    _mm_storeu_ps(f, r);
    _mm_storeu_ps(f + 4, g);
    _mm_storeu_ps(f + 8, b);
    _mm_storeu_ps(f + 12, a);
  }
}

// For byte false colour in integers (row_kernels_false_colour.inc).
#define LS_HAS_LUMA_UNITS 1
inline VI IAdd(VI a, VI b) { return _mm_add_epi32(a, b); }
inline VI ICmpEq(VI a, VI b) { return _mm_cmpeq_epi32(a, b); }
inline VI IMulAddPairs(VI a, VI b) { return _mm_madd_epi16(a, b); }
inline VI INarrow32(VI a, VI b) { return _mm_packs_epi32(a, b); }
inline VI INarrowSigned(VI a, VI b) { return _mm_packs_epi16(a, b); }
inline VI I16CmpGT(VI a, VI b) { return _mm_cmpgt_epi16(a, b); }
inline VI I16CmpEq(VI a, VI b) { return _mm_cmpeq_epi16(a, b); }
inline VI I16Shr2(VI a) { return _mm_srli_epi16(a, 2); }
inline VI I8CmpGT(VI a, VI b) { return _mm_cmpgt_epi8(a, b); }
inline VI IInterleave8(VI a, VI b, bool high) { return high ? _mm_unpackhi_epi8(a, b) : _mm_unpacklo_epi8(a, b); }
inline VI IInterleave16(VI a, VI b, bool high) { return high ? _mm_unpackhi_epi16(a, b) : _mm_unpacklo_epi16(a, b); }
inline bool IAnyNonZero(VI a) { return _mm_movemask_epi8(a) != 0; }

#include "render/row_kernels_simd.inc"

#undef LS_TARGET
#undef LS_HAS_LUMA_UNITS

}  // namespace

const KernelSet& Sse2Kernels() {
  static constexpr KernelSet kSet{Copy, ByteRun, FloatRun, ReadByteChannels};
  return kSet;
}

}  // namespace fast
}  // namespace lenstrove
