#ifndef LENSTROVE_TESTS_SDK_PIXELS_H
#define LENSTROVE_TESTS_SDK_PIXELS_H

// What the test plug-ins share: reading and writing pixels of any depth and
// components the host hands over, as RGBA floats. Integer depths map 0..max
// to 0..1 and round back to the nearest step, clamped; half and float keep
// their values. Half floats are converted here, with the plug-in's own code,
// so the host's conversions are checked against an independent one.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "ofxsImageEffect.h"

namespace lenstrove_sdk {

struct Half {
  uint16_t bits;
};

inline float HalfToFloat(uint16_t half) {
  const int exponent = (half >> 10) & 0x1f;
  const int mantissa = half & 0x3ff;
  float magnitude;
  if (exponent == 0) {
    magnitude = std::ldexp(static_cast<float>(mantissa), -24);
  } else if (exponent == 31) {
    magnitude = mantissa != 0 ? NAN : INFINITY;
  } else {
    magnitude = std::ldexp(static_cast<float>(mantissa | 0x400), exponent - 25);
  }
  return (half & 0x8000) != 0 ? -magnitude : magnitude;
}

// Rounds to the nearest half, ties to even; overflow becomes infinity.
inline uint16_t FloatToHalf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  const uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  const uint32_t magnitude = bits & 0x7fffffffu;
  if (magnitude >= 0x7f800000u) return sign | 0x7c00u | (magnitude > 0x7f800000u ? 0x200u : 0u);
  if (magnitude >= 0x477ff000u) return sign | 0x7c00u;  // 65520 and up round past the largest half
  if (magnitude < 0x38800000u) {                         // below 2^-14: a subnormal half
    float small;
    std::memcpy(&small, &magnitude, sizeof small);
    return sign | static_cast<uint16_t>(std::nearbyint(small * 16777216.0f));
  }
  uint32_t half = (magnitude >> 13) - (112u << 10);  // exponent bias 127 becomes 15
  const uint32_t dropped = magnitude & 0x1fffu;
  if (dropped > 0x1000u || (dropped == 0x1000u && (half & 1u) != 0)) ++half;
  return static_cast<uint16_t>(sign | half);
}

template <class Channel>
struct ChannelOf;

template <>
struct ChannelOf<unsigned char> {
  static float Get(const unsigned char* at) { return *at / 255.0f; }
  static void Put(unsigned char* at, float v) { *at = static_cast<unsigned char>(std::lround(Clamped(v) * 255.0f)); }
  static float Clamped(float v) { return v < 0 ? 0 : v > 1 ? 1 : v; }
};

template <>
struct ChannelOf<unsigned short> {
  static float Get(const unsigned short* at) { return *at / 65535.0f; }
  static void Put(unsigned short* at, float v) {
    *at = static_cast<unsigned short>(std::lround(ChannelOf<unsigned char>::Clamped(v) * 65535.0f));
  }
};

template <>
struct ChannelOf<Half> {
  static float Get(const Half* at) { return HalfToFloat(at->bits); }
  static void Put(Half* at, float v) { at->bits = FloatToHalf(v); }
};

template <>
struct ChannelOf<float> {
  static float Get(const float* at) { return *at; }
  static void Put(float* at, float v) { *at = v; }
};

// Where each of an image's channels goes in RGBA: RGB fills the colour,
// Alpha only the alpha.
inline int FirstChannel(int count) { return count == 1 ? 3 : 0; }

template <class Channel>
void ReadPixel(const OFX::Image& image, int x, int y, float rgba[4]) {
  rgba[0] = rgba[1] = rgba[2] = 0;
  rgba[3] = 1;
  const auto* at = static_cast<const Channel*>(image.getPixelAddress(x, y));
  if (at == nullptr) return;
  const int count = image.getPixelComponentCount();
  for (int c = 0; c < count; ++c) rgba[FirstChannel(count) + c] = ChannelOf<Channel>::Get(at + c);
}

template <class Channel>
void WritePixel(OFX::Image& image, int x, int y, const float rgba[4]) {
  auto* at = static_cast<Channel*>(image.getPixelAddress(x, y));
  if (at == nullptr) return;
  const int count = image.getPixelComponentCount();
  for (int c = 0; c < count; ++c) ChannelOf<Channel>::Put(at + c, rgba[FirstChannel(count) + c]);
}

// Calls `pixel(x, y, in, out)` for every pixel of `window` that lies in the
// output, `in` holding the source there (transparent black outside it or
// without a source) and `out` what is written. One instantiation per depth.
template <class Channel, class PerPixel>
void ProcessTyped(const OFX::Image* source, OFX::Image& output, const OfxRectI& window, PerPixel&& pixel) {
  const OfxRectI& bounds = output.getBounds();
  for (int y = std::max(window.y1, bounds.y1); y < std::min(window.y2, bounds.y2); ++y) {
    for (int x = std::max(window.x1, bounds.x1); x < std::min(window.x2, bounds.x2); ++x) {
      float in[4] = {0, 0, 0, 0}, out[4];
      if (source != nullptr) {
        const OfxRectI& from = source->getBounds();
        if (x >= from.x1 && x < from.x2 && y >= from.y1 && y < from.y2) ReadPixel<Channel>(*source, x, y, in);
      }
      pixel(x, y, in, out);
      WritePixel<Channel>(output, x, y, out);
    }
  }
}

// The source must have the output's depth, as the plug-ins declare no
// support for mixed depths.
template <class PerPixel>
void Process(const OFX::Image* source, OFX::Image& output, const OfxRectI& window, PerPixel&& pixel) {
  switch (output.getPixelDepth()) {
    case OFX::eBitDepthUByte: return ProcessTyped<unsigned char>(source, output, window, pixel);
    case OFX::eBitDepthUShort: return ProcessTyped<unsigned short>(source, output, window, pixel);
    case OFX::eBitDepthHalf: return ProcessTyped<Half>(source, output, window, pixel);
    case OFX::eBitDepthFloat: return ProcessTyped<float>(source, output, window, pixel);
    default: OFX::throwSuiteStatusException(kOfxStatErrFormat);
  }
}

}  // namespace lenstrove_sdk

#endif
