// Letterbox bars that show the picture framed for a wider cinema ratio. The
// rows are worked out once per render; the darkening is the last stage, so
// everything drawn on a bar row is darkened with it.

#include "render/geometry_math.h"
#include "render/stages.h"

namespace lenstrove {
namespace {

struct CropRatio {
  int32_t RenderSettings::*enabled;
  double ratio;
};

// The widest ratio switched on wins.
constexpr CropRatio kCropRatiosByPriority[] = {
    {&RenderSettings::Crop239, 2.39},
    {&RenderSettings::Crop235, 2.35},
    {&RenderSettings::Crop185, 1.85},
};

}  // namespace

void ComputeCropRows(const RenderSettings& settings, FrameGeometry& geometry) {
  int64_t barRows = 0;
  for (const CropRatio& crop : kCropRatiosByPriority) {
    if (settings.*crop.enabled == 0) continue;
    const int64_t visibleHeight = TruncateToInt32(static_cast<double>(geometry.Width) / crop.ratio);
    barRows = (geometry.Height - visibleHeight) / 2;
    break;
  }
  geometry.CropBarRows = SaturateToInt32(barRows);
  if (barRows <= 0) {
    // No bars: not even the rows of an image that reach past the frame
    // (overscan) are darkened.
    geometry.CropLowRow = INT32_MIN;
    geometry.CropHighRow = INT32_MAX;
    return;
  }
  geometry.CropLowRow = SaturateToInt32(geometry.Frame.y1 + barRows);
  geometry.CropHighRow = SaturateToInt32(geometry.Frame.y2 - barRows);
}

bool IsBarRow(int32_t y, const FrameGeometry& geometry) {
  return y < geometry.CropLowRow || y >= geometry.CropHighRow;
}

void ApplyCropBars(WorkPixel& pixel, int32_t, int32_t y, const FrameGeometry& geometry,
                   const RenderSettings& settings) {
  if (!IsBarRow(y, geometry)) return;
  const float factor = 1.0f - static_cast<float>(settings.CropOpacity);
  pixel.R *= factor;
  pixel.G *= factor;
  pixel.B *= factor;
  if (settings.CropOpacity >= kOpaqueBarThreshold) pixel.A = 1.0f;
}

}  // namespace lenstrove
