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
inline VF FDiv(VF a, VF b) { return vdivq_f32(a, b); }
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
inline VI IShr8(VI a) { return vshrq_n_u32(a, 8); }
inline VI IShr16(VI a) { return vshrq_n_u32(a, 16); }
inline VI IShl8(VI a) { return vshlq_n_u32(a, 8); }
inline VI IShl16(VI a) { return vshlq_n_u32(a, 16); }
inline VF ICvtFloat(VI a) { return vcvtq_f32_s32(vreinterpretq_s32_u32(a)); }
inline VI ILoad(const unsigned char* p) { return vreinterpretq_u32_u8(vld1q_u8(p)); }
inline void IStore(unsigned char* p, VI v) { vst1q_u8(p, vreinterpretq_u8_u32(v)); }
// NEON has no cache-bypassing store the compiler exposes; a plain store
// keeps the result the same and needs no fence.
inline void IStream(unsigned char* p, VI v) { IStore(p, v); }

inline VI IAndNot(VI mask, VI b) { return vbicq_u32(b, mask); }

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

}  // namespace

const KernelSet& NeonKernels() {
  static constexpr KernelSet kSet{Copy, ByteRun, FloatRun};
  return kSet;
}

}  // namespace fast
}  // namespace lenstrove
