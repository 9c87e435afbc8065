#pragma once

// Reading a stored pixel into a WorkPixel and writing it back, one
// specialisation per layout so the pixel loops are written once.

#include <cstdint>
#include <cstring>

#include "render/render_types.h"

namespace lenstrove {

template <PixelLayout Layout>
struct PixelFormat;

template <>
struct PixelFormat<PixelLayout::FloatRGBA> {
  static constexpr int64_t kBytesPerPixel = 16;

  // Stored floats pass through untouched, NaN payloads and negative zero
  // included; memcpy keeps that true whatever the buffer's alignment.
  static WorkPixel Read(const unsigned char* at) {
    WorkPixel pixel;
    std::memcpy(&pixel, at, sizeof pixel);
    return pixel;
  }
  static void Write(const WorkPixel& pixel, unsigned char* at) { std::memcpy(at, &pixel, sizeof pixel); }
};

template <>
struct PixelFormat<PixelLayout::ByteRGBA> {
  static constexpr int64_t kBytesPerPixel = 4;

  static float ToChannel(unsigned char stored) { return static_cast<float>(stored) / 255.0f; }

  // Clamped to 0..1, scaled and truncated toward zero (not rounded). A NaN
  // fails every comparison and would reach an undefined conversion, so it is
  // stored as 0.
  static unsigned char ToByte(float channel) {
    if (!(channel >= 0.0f)) return 0;
    if (channel > 1.0f) channel = 1.0f;
    return static_cast<unsigned char>(static_cast<int>(channel * 255.0f));
  }

  static WorkPixel Read(const unsigned char* at) {
    return {ToChannel(at[0]), ToChannel(at[1]), ToChannel(at[2]), ToChannel(at[3])};
  }
  static void Write(const WorkPixel& pixel, unsigned char* at) {
    at[0] = ToByte(pixel.R);
    at[1] = ToByte(pixel.G);
    at[2] = ToByte(pixel.B);
    at[3] = ToByte(pixel.A);
  }
};

inline int64_t BytesPerPixel(PixelLayout layout) {
  return layout == PixelLayout::FloatRGBA ? PixelFormat<PixelLayout::FloatRGBA>::kBytesPerPixel
                                          : PixelFormat<PixelLayout::ByteRGBA>::kBytesPerPixel;
}

}  // namespace lenstrove
