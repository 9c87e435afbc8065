// The row kernels at NEON width: four 32-bit lanes. NEON is part of every
// 64-bit ARM processor, so this is the only vector width there.
//
// NEON's minimum, maximum and conversions differ from SSE2's around NaN and
// out-of-range values, and the kernels rely on SSE2's: min(a, b) and max(a, b)
// return b whenever the comparison fails. Both are written here as a compare
// and a select so that every lane rounds and clamps as the scalar code does.

#include <arm_neon.h>

#include <cstdint>
#include <cstring>

#include "render/row_kernels.h"

namespace lenstrove {
namespace fast {
namespace {

#define LS_TARGET

using VF = float32x4_t;
using VI = uint32x4_t;
constexpr int32_t kPixels = 4;
constexpr size_t kVectorBytes = 16;

inline VF AsFloat(VI a) { return vreinterpretq_f32_u32(a); }
inline VI FAsInt(VF a) { return vreinterpretq_u32_f32(a); }

inline VF FSet1(float v) { return vdupq_n_f32(v); }
inline VF FAdd(VF a, VF b) { return vaddq_f32(a, b); }
inline VF FMul(VF a, VF b) { return vmulq_f32(a, b); }
// a * b + c where a * b is exact, so fusing it rounds only where the sum does.
inline VF FMulAddExactProduct(VF a, VF b, VF c) { return vfmaq_f32(c, a, b); }
inline VF FMin(VF a, VF b) { return vbslq_f32(vcltq_f32(a, b), a, b); }
inline VF FMax(VF a, VF b) { return vbslq_f32(vcgtq_f32(a, b), a, b); }
inline VF FAnd(VF a, VF b) { return AsFloat(vandq_u32(FAsInt(a), FAsInt(b))); }
inline VF FOr(VF a, VF b) { return AsFloat(vorrq_u32(FAsInt(a), FAsInt(b))); }
inline VF FAndNot(VF mask, VF b) { return AsFloat(vbicq_u32(FAsInt(b), FAsInt(mask))); }
inline VF FCmpLT(VF a, VF b) { return AsFloat(vcltq_f32(a, b)); }
inline VF FCmpLE(VF a, VF b) { return AsFloat(vcleq_f32(a, b)); }
inline VF FCmpGT(VF a, VF b) { return AsFloat(vcgtq_f32(a, b)); }
inline VF FCmpGE(VF a, VF b) { return AsFloat(vcgeq_f32(a, b)); }
inline bool FAnyNaN(VF a) { return vminvq_u32(vceqq_f32(a, a)) == 0; }
// Callers clamp to 0..255 first, where truncation agrees with SSE2's.
inline VI FCvtTrunc(VF a) { return vreinterpretq_u32_s32(vcvtq_s32_f32(a)); }

inline VI ISet1(int32_t v) { return vdupq_n_u32(static_cast<uint32_t>(v)); }
inline VI IAnd(VI a, VI b) { return vandq_u32(a, b); }
inline VI IOr(VI a, VI b) { return vorrq_u32(a, b); }
inline VI IShl8(VI a) { return vshlq_n_u32(a, 8); }
inline VI IShl16(VI a) { return vshlq_n_u32(a, 16); }
inline VF ICvtFloat(VI a) { return vcvtq_f32_s32(vreinterpretq_s32_u32(a)); }
inline VI ILoad(const unsigned char* p) { return vreinterpretq_u32_u8(vld1q_u8(p)); }
inline void IStore(unsigned char* p, VI v) { vst1q_u8(p, vreinterpretq_u8_u32(v)); }
// NEON has no cache-bypassing store the compiler exposes; a plain store
// keeps the result the same and needs no fence.
inline void IStream(unsigned char* p, VI v) { IStore(p, v); }

inline VI IAndNot(VI mask, VI b) { return vbicq_u32(b, mask); }
// Colour bytes whose alpha byte is zero, with the alpha byte of stored: one
// bit select.
inline VI WithAlphaOf(VI colour, VI stored) { return vbslq_u32(vdupq_n_u32(0xFF000000u), stored, colour); }
inline void FStore(float* p, VF v) { vst1q_f32(p, v); }

// Signed, as SSE2's: all ones where a > b.
inline VI ICmpGT(VI a, VI b) { return vcgtq_s32(vreinterpretq_s32_u32(a), vreinterpretq_s32_u32(b)); }
// acc + 1 in the lanes where a > b: a comparison answers -1 where true.
inline VI IIncrementWhereGreater(VI acc, VI a, VI b) { return vsubq_u32(acc, ICmpGT(a, b)); }

// Bytes to 16-bit lanes and back, saturating as SSE2's pack does.
inline uint8x16_t AsBytes(VI a) { return vreinterpretq_u8_u32(a); }
inline VI IWidenLow(VI a) { return vreinterpretq_u32_u16(vmovl_u8(vget_low_u8(AsBytes(a)))); }
inline VI IWidenHigh(VI a) { return vreinterpretq_u32_u16(vmovl_u8(vget_high_u8(AsBytes(a)))); }
inline VI INarrow(VI low, VI high) {
  return vreinterpretq_u32_u8(
      vcombine_u8(vqmovun_s16(vreinterpretq_s16_u32(low)), vqmovun_s16(vreinterpretq_s16_u32(high))));
}
inline VI I16Add(VI a, VI b) {
  return vreinterpretq_u32_u16(vaddq_u16(vreinterpretq_u16_u32(a), vreinterpretq_u16_u32(b)));
}
inline VI I16Mul(VI a, VI b) {
  return vreinterpretq_u32_u16(vmulq_u16(vreinterpretq_u16_u32(a), vreinterpretq_u16_u32(b)));
}
inline VI I16Shr8(VI a) { return vreinterpretq_u32_u16(vshrq_n_u16(vreinterpretq_u16_u32(a), 8)); }
// The high 16 bits of each unsigned 16-bit product: both halves widened,
// multiplied and their high halves taken back.
inline VI I16MulHigh(VI a, VI b) {
  const uint16x8_t x = vreinterpretq_u16_u32(a), y = vreinterpretq_u16_u32(b);
  const uint32x4_t low = vmull_u16(vget_low_u16(x), vget_low_u16(y));
  const uint32x4_t high = vmull_high_u16(x, y);
  return vreinterpretq_u32_u16(vuzp2q_u16(vreinterpretq_u16_u32(low), vreinterpretq_u16_u32(high)));
}

// Byte Channel of each pixel, repeated in the low three bytes of its lane
// (b * 0x010101), by one table lookup; an index past the register clears
// the top byte.
template <int Channel>
inline VI RepeatByte(VI stored) {
  constexpr uint8_t c = Channel, none = 0xFF;
  static const uint8_t pattern[16] = {c,      c,      c,      none, 4 + c,  4 + c,  4 + c,  none,
                                      8 + c,  8 + c,  8 + c,  none, 12 + c, 12 + c, 12 + c, none};
  return vreinterpretq_u32_u8(vqtbl1q_u8(AsBytes(stored), vld1q_u8(pattern)));
}


#define LS_HAS_LOOKUPS 1

// Sixteen bytes picked by each byte: one table lookup (an index past the
// table gives 0).
using Table16 = uint8x16_t;
inline Table16 MakeTable16(const int8_t* entries) { return vld1q_u8(reinterpret_cast<const uint8_t*>(entries)); }
inline VI LookUp16(Table16 t, VI index) { return vreinterpretq_u32_u8(vqtbl1q_u8(t, AsBytes(index))); }

// Eight 32-bit entries picked by the low three bits of each lane: a lookup
// of the entry's four bytes in a two-register table.
using Table8 = uint8x16x2_t;
inline Table8 MakeTable8(const void* entries) {
  const uint8_t* bytes = static_cast<const uint8_t*>(entries);
  return {{vld1q_u8(bytes), vld1q_u8(bytes + 16)}};
}
inline VI LookUp8(const Table8& t, VI index) {
  // Entry i's bytes are 4i to 4i + 3: one multiply-add makes all four.
  const VI byteIndex = vmlaq_u32(vdupq_n_u32(0x03020100u), vandq_u32(index, vdupq_n_u32(7)), vdupq_n_u32(0x04040404u));
  return vreinterpretq_u32_u8(vqtbl2q_u8(t, AsBytes(byteIndex)));
}
// A gray byte's cell, (g * kFalseColorCellFromGray) >> 16: one doubling
// multiply that keeps the high 32 bits, (2 g (c << 15)) >> 32.
inline VI CellOfGray(VI gray) {
  return vreinterpretq_u32_s32(vqdmulhq_s32(vreinterpretq_s32_u32(gray), vdupq_n_s32(kFalseColorCellFromGray << 15)));
}
// whenNegative where selector's top bit is set, else otherwise.
inline VI IWhereNegative(VI selector, VI whenNegative, VI otherwise) {
  return vbslq_u32(vreinterpretq_u32_s32(vshrq_n_s32(vreinterpretq_s32_u32(selector), 31)), whenNegative, otherwise);
}

// The structure loads and stores split four RGBA pixels into one register per
// channel and join them again; they move bits, so NaN payloads survive.
inline void LoadFloatPixels(const unsigned char* p, VF& r, VF& g, VF& b, VF& a) {
  const float32x4x4_t v = vld4q_f32(reinterpret_cast<const float*>(p));
  r = v.val[0];
  g = v.val[1];
  b = v.val[2];
  a = v.val[3];
}

inline void StoreFloatPixels(unsigned char* p, VF r, VF g, VF b, VF a, bool) {
  const float32x4x4_t v{{r, g, b, a}};
  vst4q_f32(reinterpret_cast<float*>(p), v);
}

#include "render/row_kernels_simd.inc"

#undef LS_TARGET
#undef LS_HAS_LOOKUPS

}  // namespace

const KernelSet& NeonKernels() {
  static constexpr KernelSet kSet{Copy, ByteRun, FloatRun, ReadByteChannels};
  return kSet;
}

}  // namespace fast
}  // namespace lenstrove
