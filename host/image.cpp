#include "image.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "property_table.h"
#include "status.h"

namespace lenstrove::host {

namespace {

int ChannelBytes(const std::string& depth) {
  if (depth == kOfxBitDepthByte) return 1;
  if (depth == kOfxBitDepthShort || depth == kOfxBitDepthHalf) return 2;
  if (depth == kOfxBitDepthFloat) return 4;
  throw HostError("unknown pixel depth \"" + depth + "\"");
}

int Channels(const std::string& components) {
  if (components == kOfxImageComponentRGBA) return 4;
  if (components == kOfxImageComponentRGB) return 3;
  if (components == kOfxImageComponentAlpha) return 1;
  throw HostError("unknown components \"" + components + "\"");
}

std::string PointerText(const void* pointer) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIxPTR, reinterpret_cast<uintptr_t>(pointer));
  return text;
}

bool AllGuard(const unsigned char* begin, const unsigned char* end) {
  return std::all_of(begin, end, [](unsigned char byte) { return byte == Image::kGuardByte; });
}

}  // namespace

Image::Image(const OfxRectI& bounds, const std::string& depth, const std::string& components, int row_bytes,
             void* data)
    : bounds_(bounds),
      channel_bytes_(ChannelBytes(depth)),
      channels_(Channels(components)),
      row_bytes_(row_bytes),
      data_(static_cast<unsigned char*>(data)),
      properties_("image") {
  if (Width() < 0 || Height() < 0) throw HostError("image bounds are inverted");
}

Image::Image(const OfxRectI& bounds, const std::string& depth, const std::string& components, int row_bytes)
    : Image(bounds, depth, components, row_bytes, nullptr) {
  int64_t tight = Width() * PixelBytes();
  if (tight > std::numeric_limits<int>::max()) throw HostError("image rows are too wide");
  if (row_bytes_ == 0) row_bytes_ = static_cast<int>(tight);
  if (std::abs(int64_t{row_bytes_}) < tight) {
    throw HostError("row bytes " + std::to_string(row_bytes_) + " cannot hold a row of " + std::to_string(tight));
  }
  Allocate();
  DescribeInProperties(depth, components);
}

Image Image::External(void* data, const OfxRectI& bounds, int row_bytes, const std::string& depth,
                      const std::string& components) {
  Image image(bounds, depth, components, row_bytes, data);
  image.DescribeInProperties(depth, components);
  return image;
}

void Image::Allocate() {
  size_t stride = std::abs(int64_t{row_bytes_});
  size_t row_used = size_t(Width()) * PixelBytes();
  storage_.assign(2 * kGuardSize + stride * Height(), kGuardByte);
  unsigned char* lowest_row = storage_.data() + kGuardSize;
  for (int64_t row = 0; row < Height(); ++row) std::memset(lowest_row + row * stride, 0, row_used);
  bool top_down = row_bytes_ < 0 && Height() > 0;
  data_ = top_down ? lowest_row + (Height() - 1) * stride : lowest_row;
}

void Image::DescribeInProperties(const std::string& depth, const std::string& components) {
  std::vector<PropertyValue> bounds = {bounds_.x1, bounds_.y1, bounds_.x2, bounds_.y2};
  bool has_alpha = components == kOfxImageComponentRGBA || components == kOfxImageComponentAlpha;
  properties_.Set(kOfxPropType, 0, kOfxTypeImage);
  properties_.Set(kOfxImagePropData, 0, static_cast<void*>(data_));
  properties_.SetN(kOfxImagePropBounds, PropertyType::kInt, bounds);
  properties_.SetN(kOfxImagePropRegionOfDefinition, PropertyType::kInt, bounds);
  properties_.Set(kOfxImagePropRowBytes, 0, row_bytes_);
  properties_.Set(kOfxImageEffectPropPixelDepth, 0, depth);
  properties_.Set(kOfxImageEffectPropComponents, 0, components);
  properties_.Set(kOfxImageEffectPropPreMultiplication, 0, has_alpha ? kOfxImagePreMultiplied : kOfxImageOpaque);
  properties_.Set(kOfxImagePropPixelAspectRatio, 0, 1.0);
  properties_.Set(kOfxImagePropField, 0, kOfxImageFieldNone);
  properties_.Set(kOfxImagePropUniqueIdentifier, 0, "image@" + PointerText(data_));
  properties_.SetN(kOfxImageEffectPropRenderScale, PropertyType::kDouble, {1.0, 1.0});
  AddStandardProperties(properties_, kImageObject);
}

unsigned char* Image::PixelAddress(int x, int y) const {
  if (!data_) throw HostError("the image has no pixel data");
  if (x < bounds_.x1 || x >= bounds_.x2 || y < bounds_.y1 || y >= bounds_.y2) {
    throw HostError("pixel (" + std::to_string(x) + ", " + std::to_string(y) + ") is outside the image");
  }
  return data_ + std::ptrdiff_t{y - bounds_.y1} * row_bytes_ + std::ptrdiff_t{x - bounds_.x1} * PixelBytes();
}

unsigned char* Image::Channel(int x, int y, int channel, int channel_bytes) const {
  if (channel_bytes != channel_bytes_) throw HostError("the image has another pixel depth");
  if (channel < 0 || channel >= channels_) throw HostError("the image has no channel " + std::to_string(channel));
  return PixelAddress(x, y) + channel * channel_bytes;
}

float Image::GetFloat(int x, int y, int channel) const {
  float value;
  std::memcpy(&value, Channel(x, y, channel, sizeof value), sizeof value);
  return value;
}

void Image::SetFloat(int x, int y, int channel, float value) {
  std::memcpy(Channel(x, y, channel, sizeof value), &value, sizeof value);
}

uint8_t Image::GetByte(int x, int y, int channel) const { return *Channel(x, y, channel, 1); }

void Image::SetByte(int x, int y, int channel, uint8_t value) { *Channel(x, y, channel, 1) = value; }

bool Image::GuardsIntact() const {
  if (!OwnsPixels()) return true;
  size_t stride = std::abs(int64_t{row_bytes_});
  size_t row_used = size_t(Width()) * PixelBytes();
  const unsigned char* lowest_row = storage_.data() + kGuardSize;
  if (!AllGuard(storage_.data(), lowest_row)) return false;
  for (int64_t row = 0; row < Height(); ++row) {
    const unsigned char* start = lowest_row + row * stride;
    if (!AllGuard(start + row_used, start + stride)) return false;
  }
  return AllGuard(lowest_row + Height() * stride, storage_.data() + storage_.size());
}

}  // namespace lenstrove::host
