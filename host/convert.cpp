#include "convert.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "status.h"

namespace lenstrove::host {

namespace {

enum class Depth { kByte, kShort, kHalf, kFloat };

struct Format {
  Depth depth;
  int channel_bytes;  // 1, 2 or 4
  int channels;       // 4, 3 or 1
};

std::string Text(const PropertySet& properties, const char* name) {
  const Property* found = properties.Lookup(name);
  const std::string* text = found && !found->values.empty() ? std::get_if<std::string>(&found->values[0]) : nullptr;
  return text ? *text : std::string();
}

Format FormatOf(const Image& image) {
  std::string depth = Text(image.Properties(), kOfxImageEffectPropPixelDepth);
  std::string components = Text(image.Properties(), kOfxImageEffectPropComponents);
  if (!ConvertibleDepth(depth)) throw HostError("cannot convert pixels of depth \"" + depth + "\"");
  Depth kind = depth == kOfxBitDepthByte    ? Depth::kByte
               : depth == kOfxBitDepthShort ? Depth::kShort
               : depth == kOfxBitDepthHalf  ? Depth::kHalf
                                            : Depth::kFloat;
  int bytes = kind == Depth::kByte ? 1 : kind == Depth::kFloat ? 4 : 2;
  int channels = components == kOfxImageComponentRGBA ? 4 : components == kOfxImageComponentRGB ? 3 : 1;
  return {kind, bytes, channels};
}

// IEEE 754 binary16, exactly: every half is a float, and a float becomes
// the nearest half (ties to even), overflowing to infinity.
float HalfToFloat(uint16_t half) {
  uint32_t sign = uint32_t{half & 0x8000u} << 16;
  uint32_t exponent = (half >> 10) & 0x1f;
  uint32_t mantissa = half & 0x3ffu;
  float magnitude;
  if (exponent == 0) {
    magnitude = std::ldexp(static_cast<float>(mantissa), -24);  // subnormal
  } else if (exponent == 31) {
    magnitude = mantissa ? std::numeric_limits<float>::quiet_NaN() : std::numeric_limits<float>::infinity();
  } else {
    magnitude = std::ldexp(static_cast<float>(mantissa | 0x400u), static_cast<int>(exponent) - 25);
  }
  uint32_t bits;
  std::memcpy(&bits, &magnitude, sizeof bits);
  bits |= sign;
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

uint16_t FloatToHalf(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  uint16_t sign = static_cast<uint16_t>((bits >> 16) & 0x8000u);
  float magnitude = std::fabs(value);
  if (std::isnan(value)) return static_cast<uint16_t>(sign | 0x7e00u);
  if (magnitude >= 65520.0f) return static_cast<uint16_t>(sign | 0x7c00u);  // rounds past the largest half
  if (magnitude < 6.103515625e-05f) {
    // Subnormal halves are whole multiples of 2^-24; nearbyint rounds to even.
    return static_cast<uint16_t>(sign | static_cast<uint16_t>(std::nearbyint(std::ldexp(magnitude, 24))));
  }
  int exponent = 0;
  float fraction = std::frexp(magnitude, &exponent);  // magnitude = fraction * 2^exponent, fraction in [0.5, 1)
  // Eleven significant bits; a carry into the twelfth moves to the next exponent by itself.
  uint32_t significand = static_cast<uint32_t>(std::nearbyint(std::ldexp(fraction, 11)));
  uint32_t encoded = (static_cast<uint32_t>(exponent + 14) << 10) + (significand - 0x400u);
  return static_cast<uint16_t>(sign | encoded);
}

float Read(const unsigned char* channel, Depth depth) {
  switch (depth) {
    case Depth::kByte:
      return *channel / 255.0f;
    case Depth::kShort:
    case Depth::kHalf: {
      uint16_t value;
      std::memcpy(&value, channel, sizeof value);
      return depth == Depth::kShort ? value / 65535.0f : HalfToFloat(value);
    }
    case Depth::kFloat:
      break;
  }
  float value;
  std::memcpy(&value, channel, sizeof value);
  return value;
}

void Write(unsigned char* channel, Depth depth, float value) {
  if (depth == Depth::kFloat) {
    std::memcpy(channel, &value, sizeof value);
    return;
  }
  if (depth == Depth::kHalf) {
    uint16_t half = FloatToHalf(value);
    std::memcpy(channel, &half, sizeof half);
    return;
  }
  float top = depth == Depth::kByte ? 255.0f : 65535.0f;
  float scaled = std::nearbyint(std::clamp(value, 0.0f, 1.0f) * top);
  if (depth == Depth::kByte) {
    *channel = static_cast<unsigned char>(scaled);
  } else {
    uint16_t wide = static_cast<uint16_t>(scaled);
    std::memcpy(channel, &wide, sizeof wide);
  }
}

// One pixel as RGBA, whatever it holds.
void ToRgba(const float* in, int channels, float rgba[4]) {
  if (channels == 1) {
    std::fill(rgba, rgba + 4, in[0]);
    return;
  }
  std::copy(in, in + 3, rgba);
  rgba[3] = channels == 4 ? in[3] : 1.0f;
}

void FromRgba(const float rgba[4], int channels, float* out) {
  if (channels == 1) {
    out[0] = rgba[3];
    return;
  }
  std::copy(rgba, rgba + channels, out);
}

}  // namespace

bool ConvertibleDepth(const std::string& depth) {
  return depth == kOfxBitDepthByte || depth == kOfxBitDepthShort || depth == kOfxBitDepthHalf ||
         depth == kOfxBitDepthFloat;
}

void ConvertPixels(const Image& from, Image& to) {
  Format in = FormatOf(from), out = FormatOf(to);
  OfxRectI a = from.Bounds(), b = to.Bounds();
  int x1 = std::max(a.x1, b.x1), x2 = std::min(a.x2, b.x2);
  int y1 = std::max(a.y1, b.y1), y2 = std::min(a.y2, b.y2);
  for (int y = y1; y < y2; ++y) {
    for (int x = x1; x < x2; ++x) {
      const unsigned char* source = from.PixelAddress(x, y);
      unsigned char* target = to.PixelAddress(x, y);
      float values[4], rgba[4], converted[4];
      for (int c = 0; c < in.channels; ++c) values[c] = Read(source + c * in.channel_bytes, in.depth);
      ToRgba(values, in.channels, rgba);
      FromRgba(rgba, out.channels, converted);
      for (int c = 0; c < out.channels; ++c) Write(target + c * out.channel_bytes, out.depth, converted[c]);
    }
  }
}

AlphaChange AlphaChangeBetween(const std::string& from, const std::string& to) {
  if (from == kOfxImageUnPreMultiplied && to == kOfxImagePreMultiplied) return AlphaChange::kPremultiply;
  if (from == kOfxImagePreMultiplied && to == kOfxImageUnPreMultiplied) return AlphaChange::kUnpremultiply;
  return AlphaChange::kNone;
}

AlphaChange Inverse(AlphaChange change) {
  if (change == AlphaChange::kPremultiply) return AlphaChange::kUnpremultiply;
  if (change == AlphaChange::kUnpremultiply) return AlphaChange::kPremultiply;
  return AlphaChange::kNone;
}

void ChangeAlpha(Image& image, AlphaChange change) {
  Format format = FormatOf(image);
  if (change == AlphaChange::kNone || format.channels != 4) return;
  const OfxRectI& bounds = image.Bounds();
  const int bytes = format.channel_bytes;
  for (int y = bounds.y1; y < bounds.y2; ++y) {
    for (int x = bounds.x1; x < bounds.x2; ++x) {
      unsigned char* pixel = image.PixelAddress(x, y);
      float alpha = Read(pixel + 3 * bytes, format.depth);
      for (int c = 0; c < 3; ++c) {
        float colour = Read(pixel + c * bytes, format.depth);
        if (change == AlphaChange::kPremultiply) {
          colour *= alpha;
        } else {
          colour = alpha == 0.0f ? 0.0f : colour / alpha;
        }
        Write(pixel + c * bytes, format.depth, colour);
      }
    }
  }
}

}  // namespace lenstrove::host
