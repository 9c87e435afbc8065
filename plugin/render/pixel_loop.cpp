#include "render/pixel_loop.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "render/fast_pixel_loop.h"
#include "render/frame_geometry.h"
#include "render/pixel_format.h"
#include "render/stages.h"

namespace lenstrove {
namespace {

bool ExtentFits32Bits(const OfxRectI& bounds) {
  constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
  return RectWidth(bounds) <= kMax && RectHeight(bounds) <= kMax;
}

bool RowHoldsImageWidth(const ImagePlane& image, int64_t bytesPerPixel) {
  const int64_t width = std::max<int64_t>(RectWidth(image.bounds), 0);
  return std::llabs(image.rowBytes) >= width * bytesPerPixel;
}

OfxRectI Intersect(const OfxRectI& a, const OfxRectI& b) {
  return {std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2), std::min(a.y2, b.y2)};
}

unsigned char* PixelAddress(const ImagePlane& image, int64_t x, int64_t y, int64_t bytesPerPixel) {
  return image.origin + (y - image.bounds.y1) * image.rowBytes + (x - image.bounds.x1) * bytesPerPixel;
}

template <PixelLayout Layout>
void ReferenceLoop(const PixelJob& job, const FrameGeometry& geometry, const RenderSettings& settings) {
  using Format = PixelFormat<Layout>;
  const OfxRectI& w = job.window;
  for (int32_t y = w.y1; y < w.y2; ++y) {
    const unsigned char* source = PixelAddress(job.source, w.x1, y, Format::kBytesPerPixel);
    unsigned char* output = PixelAddress(job.output, w.x1, y, Format::kBytesPerPixel);
    for (int32_t x = w.x1; x < w.x2; ++x) {
      WorkPixel pixel = Format::Read(source);
      for (StageFunction stage : kStageSequence) stage(pixel, x, y, geometry, settings);
      Format::Write(pixel, output);
      source += Format::kBytesPerPixel;
      output += Format::kBytesPerPixel;
    }
  }
}

}  // namespace

std::optional<PixelJob> PlanPixelJob(PixelLayout layout, const ImagePlane& source, const ImagePlane& output,
                                     const OfxRectI& window) {
  if (source.origin == nullptr || output.origin == nullptr) return std::nullopt;
  if (!ExtentFits32Bits(source.bounds) || !ExtentFits32Bits(output.bounds)) return std::nullopt;
  const int64_t bytesPerPixel = BytesPerPixel(layout);
  if (!RowHoldsImageWidth(source, bytesPerPixel) || !RowHoldsImageWidth(output, bytesPerPixel))
    return std::nullopt;
  const OfxRectI clipped = Intersect(Intersect(window, source.bounds), output.bounds);
  if (clipped.x1 >= clipped.x2 || clipped.y1 >= clipped.y2) return std::nullopt;
  return PixelJob{layout, source, output, clipped};
}

void RunReferencePixelLoop(const PixelJob& job, const FrameGeometry& geometry, const RenderSettings& settings) {
  if (job.layout == PixelLayout::FloatRGBA)
    ReferenceLoop<PixelLayout::FloatRGBA>(job, geometry, settings);
  else
    ReferenceLoop<PixelLayout::ByteRGBA>(job, geometry, settings);
}

void RunPixelLoop(const PixelJob& job, const FrameGeometry& geometry, const RenderSettings& settings) {
  RunPixelLoopWith(job, geometry, settings, ChosenVectorWidth());
}

}  // namespace lenstrove
