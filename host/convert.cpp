#include "convert.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "status.h"

namespace lenstrove::host {

namespace {

struct Format {
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
  int bytes = depth == kOfxBitDepthByte ? 1 : depth == kOfxBitDepthShort ? 2 : 4;
  int channels = components == kOfxImageComponentRGBA ? 4 : components == kOfxImageComponentRGB ? 3 : 1;
  return {bytes, channels};
}

float Read(const unsigned char* channel, int bytes) {
  if (bytes == 1) return *channel / 255.0f;
  if (bytes == 2) {
    uint16_t value;
    std::memcpy(&value, channel, sizeof value);
    return value / 65535.0f;
  }
  float value;
  std::memcpy(&value, channel, sizeof value);
  return value;
}

void Write(unsigned char* channel, int bytes, float value) {
  if (bytes == 4) {
    std::memcpy(channel, &value, sizeof value);
    return;
  }
  float top = bytes == 1 ? 255.0f : 65535.0f;
  float scaled = std::nearbyint(std::clamp(value, 0.0f, 1.0f) * top);
  if (bytes == 1) {
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
  return depth == kOfxBitDepthByte || depth == kOfxBitDepthShort || depth == kOfxBitDepthFloat;
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
      for (int c = 0; c < in.channels; ++c) values[c] = Read(source + c * in.channel_bytes, in.channel_bytes);
      ToRgba(values, in.channels, rgba);
      FromRgba(rgba, out.channels, converted);
      for (int c = 0; c < out.channels; ++c) Write(target + c * out.channel_bytes, out.channel_bytes, converted[c]);
    }
  }
}

}  // namespace lenstrove::host
