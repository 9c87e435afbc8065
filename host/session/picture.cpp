#include "session/picture.h"

#include <climits>
#include <cstdint>
#include <cstdlib>

#include "session/error.h"
#include "session/session_internal.h"
#include "session/wrapped_picture.h"

namespace lenstrove::session {

std::size_t SampleBytes(SampleType sample) {
  switch (sample) {
    case SampleType::Byte:
      return 1;
    case SampleType::Short:
    case SampleType::Half:
      return 2;
    case SampleType::Float:
      break;
  }
  return 4;
}

std::size_t Picture::PixelBytes() const { return SampleBytes(sample) * static_cast<std::size_t>(channels); }

std::ptrdiff_t Picture::Stride() const {
  return rowStride != 0 ? rowStride : static_cast<std::ptrdiff_t>(PixelBytes() * static_cast<std::size_t>(width));
}

unsigned char* Picture::Row(int row) const {
  const std::ptrdiff_t stored = rowOrder == RowOrder::TopFirst ? row : height - 1 - row;
  return static_cast<unsigned char*>(data) + stored * Stride();
}

const char* DepthName(SampleType sample) {
  switch (sample) {
    case SampleType::Byte:
      return kOfxBitDepthByte;
    case SampleType::Short:
      return kOfxBitDepthShort;
    case SampleType::Half:
      return kOfxBitDepthHalf;
    case SampleType::Float:
      break;
  }
  return kOfxBitDepthFloat;
}

const char* ComponentsName(int channels) {
  if (channels == 1) return kOfxImageComponentAlpha;
  return channels == 3 ? kOfxImageComponentRGB : kOfxImageComponentRGBA;
}

const char* PremultiplicationName(const Picture& picture) {
  if (picture.channels == 3) return kOfxImageOpaque;
  switch (picture.alpha) {
    case AlphaState::Straight:
      return kOfxImageUnPreMultiplied;
    case AlphaState::Premultiplied:
      return kOfxImagePreMultiplied;
    case AlphaState::Opaque:
      break;
  }
  return kOfxImageOpaque;
}

void CheckPicture(const Picture& picture) {
  if (picture.channels != 1 && picture.channels != 3 && picture.channels != 4)
    throw Error("a picture has 1, 3 or 4 channels, not " + std::to_string(picture.channels));
  if (picture.width <= 0 || picture.height <= 0)
    throw Error("a picture of " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                " pixels has nothing to render");
  if (picture.data == nullptr) throw Error("a picture of " + std::to_string(picture.width) + "x" +
                                           std::to_string(picture.height) + " pixels has no pixels in memory");
  const std::size_t rowBytes = picture.PixelBytes() * static_cast<std::size_t>(picture.width);
  if (rowBytes > static_cast<std::size_t>(INT_MAX) || std::llabs(picture.Stride()) > INT_MAX)
    throw Error("a row of " + std::to_string(picture.width) +
                " pixels is too wide for an OpenFX image at this depth");
  if (static_cast<std::size_t>(std::llabs(picture.Stride())) < rowBytes)
    throw Error("rows of " + std::to_string(rowBytes) + " bytes cannot lie " + std::to_string(picture.Stride()) +
                " bytes apart");
}

// OpenFX counts rows up from the bottom, so the image starts at the
// picture's bottom row and steps to the row above it; the bounds are
// flipped within the frame.
host::Image Wrap(const Picture& picture, const PixelRect& frame) {
  const int top = frame.y + frame.height;
  const OfxRectI bounds{picture.x - frame.x, top - (picture.y + picture.height), picture.x - frame.x + picture.width,
                        top - picture.y};
  const std::ptrdiff_t up = picture.rowOrder == RowOrder::TopFirst ? -picture.Stride() : picture.Stride();
  host::Image image = host::Image::External(picture.Row(picture.height - 1), bounds, static_cast<int>(up),
                                            DepthName(picture.sample), ComponentsName(picture.channels));
  const int region[4] = {0, 0, frame.width, frame.height};
  for (int i = 0; i < 4; ++i) image.Properties().Set(kOfxImagePropRegionOfDefinition, i, region[i]);
  return image;
}

namespace {

// Whether every sample lies at an address of its own size, as plug-ins
// read them. A caller's rows need not (a padded numpy view, say).
bool SamplesAligned(const host::Image& picture) {
  const std::string depth = StringProperty(picture.Properties(), kOfxImageEffectPropPixelDepth);
  const std::uintptr_t size = depth == kOfxBitDepthFloat ? 4 : depth == kOfxBitDepthByte ? 1 : 2;
  return reinterpret_cast<std::uintptr_t>(picture.Data()) % size == 0 &&
         static_cast<std::uintptr_t>(std::abs(picture.RowBytes())) % size == 0;
}

}  // namespace

host::Image* InFormat(host::Image& picture, const WantedFormat& wanted, std::optional<host::Image>& converted,
                      bool copyPixels) {
  const std::string& depth = wanted.depth;
  const std::string& components = wanted.components;
  picture.Properties().Set(kOfxImageEffectPropPreMultiplication, 0, wanted.premultiplication);
  if (depth == StringProperty(picture.Properties(), kOfxImageEffectPropPixelDepth) &&
      components == StringProperty(picture.Properties(), kOfxImageEffectPropComponents) &&
      wanted.alpha == host::AlphaChange::kNone && SamplesAligned(picture))
    return &picture;
  if (!host::ConvertibleDepth(depth))
    throw Error("cannot convert pictures to depth " + ShortName(depth, "OfxBitDepth"));
  converted.emplace(picture.Bounds(), depth, components);
  // The copy stands for the same picture: the same frame.
  if (const host::Property* frame = picture.Properties().Lookup(kOfxImagePropRegionOfDefinition))
    converted->Properties().SetN(kOfxImagePropRegionOfDefinition, frame->type, frame->values);
  if (components == kOfxImageComponentRGBA)
    converted->Properties().Set(kOfxImageEffectPropPreMultiplication, 0, wanted.premultiplication);
  if (copyPixels) {
    host::ConvertPixels(picture, *converted);
    host::ChangeAlpha(*converted, wanted.alpha);
  }
  return &*converted;
}

}  // namespace lenstrove::session
