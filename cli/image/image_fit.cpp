#include "image/image_fit.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

namespace lenstrove::cli {
namespace {

// Sharp, with little ringing; OpenImageIO's choice when making pictures
// smaller, and used both ways so a picture never softens by being fitted.
constexpr const char* kFilter = "lanczos3";

std::string SizeText(const PictureSize& size) { return std::to_string(size.width) + "x" + std::to_string(size.height); }

// A multiple of `step` near `length`, not above `limit` (itself at least a step).
std::int64_t Stepped(double length, std::int64_t limit, int step) {
  std::int64_t stepped = std::llround(length / step) * step;
  if (stepped > limit) stepped -= step;
  return std::max<std::int64_t>(step, stepped);
}

// An edge of a window scaled by `scale`.
int ScaledEdge(std::int64_t edge, double scale) { return static_cast<int>(std::llround(static_cast<double>(edge) * scale)); }

PixelWindow Scaled(const PixelWindow& w, double sx, double sy) {
  const int x = ScaledEdge(w.x, sx), y = ScaledEdge(w.y, sy);
  return {x, y, std::max(1, ScaledEdge(w.right(), sx) - x), std::max(1, ScaledEdge(w.bottom(), sy) - y)};
}

// Each channel of a part as float, interleaved, for OpenImageIO to filter;
// and back into the channels' own types.
void ConvertChannels(const OIIO::ImageSpec& header, const unsigned char* stored, float* wide, bool toWide) {
  const OIIO::stride_t pixel = static_cast<OIIO::stride_t>(header.pixel_bytes(true));
  const OIIO::stride_t widePixel = static_cast<OIIO::stride_t>(sizeof(float)) * header.nchannels;
  std::size_t offset = 0;
  for (int c = 0; c < header.nchannels; ++c) {
    const OIIO::TypeDesc type = header.channelformat(c);
    const unsigned char* from = stored + offset;
    if (toWide)
      OIIO::convert_image(1, header.width, header.height, 1, from, type, pixel, pixel * header.width, OIIO::AutoStride,
                          wide + c, OIIO::TypeDesc::FLOAT, widePixel, widePixel * header.width, OIIO::AutoStride);
    else
      OIIO::convert_image(1, header.width, header.height, 1, wide + c, OIIO::TypeDesc::FLOAT, widePixel,
                          widePixel * header.width, OIIO::AutoStride, const_cast<unsigned char*>(from), type, pixel,
                          pixel * header.width, OIIO::AutoStride);
    offset += type.size();
  }
}

// A part's windows and channels, in float for OpenImageIO to filter.
OIIO::ImageSpec FloatSpec(const ImagePart& part) {
  OIIO::ImageSpec layout(part.header.width, part.header.height, part.header.nchannels, OIIO::TypeDesc::FLOAT);
  SetWindows(layout, part.dataWindow(), part.displayWindow());
  return layout;
}

void ScalePart(ImagePart& part, double sx, double sy) {
  OIIO::ImageSpec& header = part.header;
  std::vector<float> wide(static_cast<std::size_t>(header.width) * header.height * header.nchannels);
  ConvertChannels(header, part.samples.data(), wide.data(), true);
  const OIIO::ImageBuf source(FloatSpec(part), wide.data());

  SetWindows(header, Scaled(part.dataWindow(), sx, sy), Scaled(part.displayWindow(), sx, sy));
  header.tile_width = std::min(header.tile_width, header.width);
  header.tile_height = std::min(header.tile_height, header.height);
  if (header.find_attribute("PixelAspectRatio") != nullptr) header.attribute("PixelAspectRatio", 1.0f);
  OIIO::ImageBuf scaled(FloatSpec(part));
  if (!OIIO::ImageBufAlgo::resize(scaled, source, kFilter, 0.0f, scaled.roi(), 1))
    throw std::runtime_error("cannot scale the picture: " + scaled.geterror());
  part.samples.assign(header.image_bytes(true), 0);
  ConvertChannels(header, part.samples.data(), static_cast<float*>(scaled.localpixels()), false);
}

}  // namespace

void CheckFitBox(const PictureSize& box, std::int64_t pixelLimit) {
  if (box.width < 1 || box.height < 1)
    throw std::runtime_error("--fit " + SizeText(box) + " has no area: both sides need at least one pixel");
  if (box.width * box.height > pixelLimit)
    throw std::runtime_error("--fit " + SizeText(box) + " is larger than the limit of " + std::to_string(pixelLimit) +
                             " pixels (raise it with --max-pixels)");
}

PictureSize FittedSize(int width, int height, double pixelAspect, const PictureSize& box, int stepX, int stepY) {
  if (box.width < stepX || box.height < stepY)
    throw std::runtime_error("--fit " + SizeText(box) + " is too small: this codec needs sides in steps of " +
                             std::to_string(stepX) + "x" + std::to_string(stepY));
  const double displayWidth = width * (pixelAspect > 0.0 ? pixelAspect : 1.0);
  const double scale = std::min(box.width / displayWidth, static_cast<double>(box.height) / height);
  return {Stepped(displayWidth * scale, box.width, stepX), Stepped(height * scale, box.height, stepY)};
}

RgbaImage ResizedRgba(const RgbaImage& image, int width, int height) {
  const OIIO::TypeDesc type = image.depth == PixelDepth::Byte ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT;
  const OIIO::ImageBuf source(OIIO::ImageSpec(image.width, image.height, 4, type),
                              const_cast<unsigned char*>(image.pixels.data()));
  RgbaImage resized(width, height, image.depth);
  resized.alphaMode = image.alphaMode;
  resized.display = {0, 0, width, height};
  OIIO::ImageBuf target(OIIO::ImageSpec(width, height, 4, type), resized.pixels.data());
  if (!OIIO::ImageBufAlgo::resize(target, source, kFilter, 0.0f, target.roi(), 1))
    throw std::runtime_error("cannot scale the picture: " + target.geterror());
  return resized;
}

void FitImageFile(ImageFile& file, const std::string& path, const PictureSize& box, std::int64_t pixelLimit) {
  const ImagePart& rendered = file.rendered();
  const PixelWindow display = rendered.displayWindow().pixelCount() > 0 ? rendered.displayWindow()
                                                                         : rendered.dataWindow();
  float aspect = rendered.header.get_float_attribute("PixelAspectRatio", 1.0f);
  if (!std::isfinite(aspect) || aspect <= 0.0f) aspect = 1.0f;
  const PictureSize fitted = FittedSize(display.width, display.height, aspect, box);
  const double sx = static_cast<double>(fitted.width) / display.width;
  const double sy = static_cast<double>(fitted.height) / display.height;
  if (sx == 1.0 && sy == 1.0) return;
  std::int64_t pixels = 0;
  for (const ImagePart& part : file.parts) {
    const PixelWindow data = Scaled(part.dataWindow(), sx, sy);
    pixels += data.pixelCount();
  }
  if (pixels > pixelLimit)
    FailRead(path, "fitted to " + SizeText(fitted) + " its parts would hold " + std::to_string(pixels) +
                       " pixels, above the limit of " + std::to_string(pixelLimit) + " (raise it with --max-pixels)");
  for (ImagePart& part : file.parts) ScalePart(part, sx, sy);
}

}  // namespace lenstrove::cli
