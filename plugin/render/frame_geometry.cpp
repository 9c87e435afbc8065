#include "render/frame_geometry.h"

#include <cmath>
#include <initializer_list>
#include <limits>

#include "render/geometry_math.h"
#include "render/stages.h"

namespace lenstrove {

int64_t RectWidth(const OfxRectI& rect) { return int64_t{rect.x2} - rect.x1; }
int64_t RectHeight(const OfxRectI& rect) { return int64_t{rect.y2} - rect.y1; }

double UsableRatio(double value) { return std::isfinite(value) && value > 0.0 ? value : 1.0; }

namespace {

int32_t SaturateDouble(double value) {
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

bool AllFinite(std::initializer_list<double> values) {
  for (double value : values)
    if (!std::isfinite(value)) return false;
  return true;
}

}  // namespace

OfxRectI PixelFrame(const PictureDescription& picture, const OfxRectI& fallback) {
  if (!picture.regionKnown) return fallback;
  const OfxRectD& rod = picture.region;
  const double x1 = std::floor(rod.x1 * picture.scaleX / picture.pixelAspect);
  const double x2 = std::ceil(rod.x2 * picture.scaleX / picture.pixelAspect);
  const double y1 = std::floor(rod.y1 * picture.scaleY);
  const double y2 = std::ceil(rod.y2 * picture.scaleY);
  if (!AllFinite({rod.x1, rod.y1, rod.x2, rod.y2, x1, y1, x2, y2})) return fallback;
  const OfxRectI frame{SaturateDouble(x1), SaturateDouble(y1), SaturateDouble(x2), SaturateDouble(y2)};
  if (frame.x1 >= frame.x2 || frame.y1 >= frame.y2) return fallback;
  return frame;
}

void ComputeDerivedGeometry(const RenderSettings& settings, FrameGeometry& geometry) {
  const OfxRectI& bounds = geometry.Frame;
  geometry.Width = SaturateToInt32(RectWidth(bounds));
  geometry.Height = SaturateToInt32(RectHeight(bounds));
  geometry.CenterColumn = SaturateToInt32(bounds.x1 + int64_t{geometry.Width} / 2);
  geometry.CenterRow = SaturateToInt32(bounds.y1 + int64_t{geometry.Height} / 2);
  ComputeBandRows(settings, geometry);
  ComputeCropRows(settings, geometry);
}

}  // namespace lenstrove
