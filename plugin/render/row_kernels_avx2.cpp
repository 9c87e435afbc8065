// The row kernels at AVX2 width: eight 32-bit lanes. Every function here
// carries the avx2 target attribute and is reached only through
// Avx2Kernels(), which the loop calls only after the processor reported AVX2;
// the rest of the module is built for the x86-64 baseline and loads anywhere.

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "render/row_kernels.h"

namespace lenstrove {
namespace fast {
namespace {

#define LS_TARGET __attribute__((target("avx2,fma")))

using VF = __m256;
using VI = __m256i;
constexpr int32_t kPixels = 8;
constexpr size_t kVectorBytes = 32;

LS_TARGET inline VF FSet1(float v) { return _mm256_set1_ps(v); }
LS_TARGET inline VF FAdd(VF a, VF b) { return _mm256_add_ps(a, b); }
LS_TARGET inline VF FMul(VF a, VF b) { return _mm256_mul_ps(a, b); }
LS_TARGET inline VF FMulAddExactProduct(VF a, VF b, VF c) { return _mm256_fmadd_ps(a, b, c); }
LS_TARGET inline VF FMin(VF a, VF b) { return _mm256_min_ps(a, b); }
LS_TARGET inline VF FMax(VF a, VF b) { return _mm256_max_ps(a, b); }
LS_TARGET inline VF FAnd(VF a, VF b) { return _mm256_and_ps(a, b); }
LS_TARGET inline VF FOr(VF a, VF b) { return _mm256_or_ps(a, b); }
LS_TARGET inline VF FAndNot(VF mask, VF b) { return _mm256_andnot_ps(mask, b); }
LS_TARGET inline VF FCmpLT(VF a, VF b) { return _mm256_cmp_ps(a, b, _CMP_LT_OQ); }
LS_TARGET inline VF FCmpLE(VF a, VF b) { return _mm256_cmp_ps(a, b, _CMP_LE_OQ); }
LS_TARGET inline VF FCmpGT(VF a, VF b) { return _mm256_cmp_ps(a, b, _CMP_GT_OQ); }
LS_TARGET inline VF FCmpGE(VF a, VF b) { return _mm256_cmp_ps(a, b, _CMP_GE_OQ); }
LS_TARGET inline bool FAnyNaN(VF a) { return _mm256_movemask_ps(_mm256_cmp_ps(a, a, _CMP_UNORD_Q)) != 0; }
LS_TARGET inline VI FCvtTrunc(VF a) { return _mm256_cvttps_epi32(a); }
LS_TARGET inline void FStore(float* p, VF v) { _mm256_storeu_ps(p, v); }

LS_TARGET inline VI ISet1(int32_t v) { return _mm256_set1_epi32(v); }
LS_TARGET inline VI IAnd(VI a, VI b) { return _mm256_and_si256(a, b); }
LS_TARGET inline VI IOr(VI a, VI b) { return _mm256_or_si256(a, b); }
LS_TARGET inline VI ICmpGT(VI a, VI b) { return _mm256_cmpgt_epi32(a, b); }
// acc + 1 in the lanes where a > b: a comparison answers -1 where true.
LS_TARGET inline VI IIncrementWhereGreater(VI acc, VI a, VI b) { return _mm256_sub_epi32(acc, ICmpGT(a, b)); }
// Bytes to 16-bit lanes and back; both work within 128-bit halves, so a
// widen followed by a narrow keeps every byte in its place.
LS_TARGET inline VI IWidenLow(VI a) { return _mm256_unpacklo_epi8(a, _mm256_setzero_si256()); }
LS_TARGET inline VI IWidenHigh(VI a) { return _mm256_unpackhi_epi8(a, _mm256_setzero_si256()); }
LS_TARGET inline VI INarrow(VI low, VI high) { return _mm256_packus_epi16(low, high); }
LS_TARGET inline VI I16Add(VI a, VI b) { return _mm256_add_epi16(a, b); }
LS_TARGET inline VI I16Mul(VI a, VI b) { return _mm256_mullo_epi16(a, b); }
LS_TARGET inline VI I16Shr8(VI a) { return _mm256_srli_epi16(a, 8); }
LS_TARGET inline VI I16MulHigh(VI a, VI b) { return _mm256_mulhi_epu16(a, b); }
LS_TARGET inline VI IShl8(VI a) { return _mm256_slli_epi32(a, 8); }
LS_TARGET inline VI IShl16(VI a) { return _mm256_slli_epi32(a, 16); }
LS_TARGET inline VF ICvtFloat(VI a) { return _mm256_cvtepi32_ps(a); }
LS_TARGET inline VI ILoad(const unsigned char* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
LS_TARGET inline void IStore(unsigned char* p, VI v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
LS_TARGET inline void IStream(unsigned char* p, VI v) { _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v); }

LS_TARGET inline VI IAndNot(VI mask, VI b) { return _mm256_andnot_si256(mask, b); }
// Colour bytes whose alpha byte is zero, with the alpha byte of stored: one
// byte blend.
LS_TARGET inline VI WithAlphaOf(VI colour, VI stored) {
  return _mm256_blendv_epi8(colour, stored, _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u)));
}
LS_TARGET inline VI FAsInt(VF a) { return _mm256_castps_si256(a); }

// Byte Channel of each pixel, repeated in the low three bytes of its lane
// (b * 0x010101), by one byte shuffle; index -1 clears the top byte. The
// shuffle works within each 128-bit half, which holds four whole pixels.
template <int Channel>
LS_TARGET inline VI RepeatByte(VI stored) {
  constexpr char c = Channel;
  const VI pattern = _mm256_setr_epi8(c, c, c, -1, 4 + c, 4 + c, 4 + c, -1, 8 + c, 8 + c, 8 + c, -1, 12 + c, 12 + c,
                                      12 + c, -1, c, c, c, -1, 4 + c, 4 + c, 4 + c, -1, 8 + c, 8 + c, 8 + c, -1,
                                      12 + c, 12 + c, 12 + c, -1);
  return _mm256_shuffle_epi8(stored, pattern);
}

#define LS_HAS_LOOKUPS 1

// Sixteen bytes picked by the low four bits of each byte: one byte shuffle,
// the table held in both 128-bit halves.
using Table16 = VI;
LS_TARGET inline Table16 MakeTable16(const int8_t* entries) {
  return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(entries)));
}
LS_TARGET inline VI LookUp16(Table16 t, VI index) { return _mm256_shuffle_epi8(t, index); }

// Eight 32-bit entries picked by the low three bits of each lane: one
// permute across the register.
using Table8 = VI;
LS_TARGET inline Table8 MakeTable8(const uint32_t* entries) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries));
}
LS_TARGET inline Table8 MakeTable8(const int32_t* entries) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(entries));
}
LS_TARGET inline VI LookUp8(Table8 t, VI index) { return _mm256_permutevar8x32_epi32(t, index); }
// A gray byte's cell, (g * kFalseColorCellFromGray) >> 16: one 16-bit
// multiply, the high half of each lane being zero.
LS_TARGET inline VI CellOfGray(VI gray) { return _mm256_mulhi_epu16(gray, ISet1(kFalseColorCellFromGray)); }
// whenNegative where selector's top bit is set, else otherwise: one blend.
LS_TARGET inline VI IWhereNegative(VI selector, VI whenNegative, VI otherwise) {
  return _mm256_castps_si256(_mm256_blendv_ps(_mm256_castsi256_ps(otherwise), _mm256_castsi256_ps(whenNegative),
                                              _mm256_castsi256_ps(selector)));
}

// Eight RGBA float pixels, two per register, to one register per channel
// and back. The transpose stays inside each 128-bit half: the low halves hold
// pixels 0, 2, 4, 6 and the high halves 1, 3, 5, 7, and the same transpose
// puts them back. Shuffles move bits without arithmetic, so NaN payloads
// survive.
LS_TARGET inline void Transpose(VF& v0, VF& v1, VF& v2, VF& v3) {
  const VF t0 = _mm256_unpacklo_ps(v0, v1);
  const VF t1 = _mm256_unpackhi_ps(v0, v1);
  const VF t2 = _mm256_unpacklo_ps(v2, v3);
  const VF t3 = _mm256_unpackhi_ps(v2, v3);
  v0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  v1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  v2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  v3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

LS_TARGET inline void LoadFloatPixels(const unsigned char* p, VF& r, VF& g, VF& b, VF& a) {
  const float* f = reinterpret_cast<const float*>(p);
  r = _mm256_loadu_ps(f);
  g = _mm256_loadu_ps(f + 8);
  b = _mm256_loadu_ps(f + 16);
  a = _mm256_loadu_ps(f + 24);
  Transpose(r, g, b, a);
}

LS_TARGET inline void StoreFloatPixels(unsigned char* p, VF r, VF g, VF b, VF a, bool stream) {
  Transpose(r, g, b, a);
  float* f = reinterpret_cast<float*>(p);
  if (stream) {
    _mm256_stream_ps(f, r);
    _mm256_stream_ps(f + 8, g);
    _mm256_stream_ps(f + 16, b);
    _mm256_stream_ps(f + 24, a);
  } else {
    _mm256_storeu_ps(f, r);
    _mm256_storeu_ps(f + 8, g);
    _mm256_storeu_ps(f + 16, b);
    _mm256_storeu_ps(f + 24, a);
  }
}

#include "render/row_kernels_simd.inc"

#undef LS_TARGET
#undef LS_HAS_LOOKUPS

}  // namespace

const KernelSet& Avx2Kernels() {
  static constexpr KernelSet kSet{Copy, ByteRun, FloatRun, ReadByteChannels};
  return kSet;
}

}  // namespace fast
}  // namespace lenstrove
