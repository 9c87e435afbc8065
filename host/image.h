#ifndef LENSTROVE_HOST_IMAGE_H
#define LENSTROVE_HOST_IMAGE_H

// An image in memory as a host hands it to a plug-in: a pixel buffer plus the
// property set that describes it.
//
// Rows may be tight, padded or stored top-down (negative row bytes): the data
// pointer always addresses pixel (x1, y1) and row y starts at
// data + (y - y1) * rowBytes, y pointing up as in OpenFX.
//
// Images the host allocates sit between guard bytes, and the padding at the
// end of each row is filled with the same pattern, so GuardsIntact() catches
// a plug-in writing outside the pixels. Images over caller memory (an
// OpenImageIO buffer, fuzz memory between guard pages) have no guards.
//
// The property set is the template of what clipGetImage hands out: edit it to
// hand a plug-in odd images (another depth string, no depth at all, a null
// or absent OfxImagePropData).

#include <cstdint>
#include <string>
#include <vector>

#include "ofx/ofxCore.h"
#include "ofx/ofxImageEffect.h"
#include "property_set.h"

namespace lenstrove::host {

class Image {
 public:
  static constexpr unsigned char kGuardByte = 0xA5;
  static constexpr size_t kGuardSize = 64;

  // Allocates the pixels, zeroed. `row_bytes` 0 means tight rows; otherwise
  // its magnitude must hold a row and a negative value stores rows top-down.
  // Depth is a byte, short, half or float depth; components RGBA, RGB or Alpha.
  explicit Image(const OfxRectI& bounds, const std::string& depth = kOfxBitDepthFloat,
                 const std::string& components = kOfxImageComponentRGBA, int row_bytes = 0);
  // Wraps caller memory; `data` addresses pixel (x1, y1) and may be null.
  static Image External(void* data, const OfxRectI& bounds, int row_bytes,
                        const std::string& depth = kOfxBitDepthFloat,
                        const std::string& components = kOfxImageComponentRGBA);

  Image(Image&&) = default;
  Image& operator=(Image&&) = default;

  PropertySet& Properties() { return properties_; }
  const PropertySet& Properties() const { return properties_; }
  const OfxRectI& Bounds() const { return bounds_; }
  int RowBytes() const { return row_bytes_; }
  int PixelBytes() const { return channel_bytes_ * channels_; }
  void* Data() const { return data_; }
  bool OwnsPixels() const { return !storage_.empty(); }

  // Pixel access in OpenFX coordinates; throws HostError outside the bounds,
  // past the last channel or when the depth does not match.
  float GetFloat(int x, int y, int channel) const;
  void SetFloat(int x, int y, int channel, float value);
  uint8_t GetByte(int x, int y, int channel) const;
  void SetByte(int x, int y, int channel, uint8_t value);
  unsigned char* PixelAddress(int x, int y) const;

  // True when no byte outside the pixels has changed; always true for
  // images over caller memory.
  bool GuardsIntact() const;

 private:
  Image(const OfxRectI& bounds, const std::string& depth, const std::string& components, int row_bytes,
        void* data);
  void Allocate();
  void DescribeInProperties(const std::string& depth, const std::string& components);
  unsigned char* Channel(int x, int y, int channel, int channel_bytes) const;
  // In 64 bits: bounds may span the whole int range, whose width overflows int.
  int64_t Width() const { return int64_t{bounds_.x2} - bounds_.x1; }
  int64_t Height() const { return int64_t{bounds_.y2} - bounds_.y1; }

  OfxRectI bounds_;
  int channel_bytes_;
  int channels_;
  int row_bytes_;
  unsigned char* data_ = nullptr;
  std::vector<unsigned char> storage_;
  PropertySet properties_;
};

}  // namespace lenstrove::host

#endif
