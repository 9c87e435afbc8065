#include "render/frame_geometry.h"

#include "render/geometry_math.h"
#include "render/stages.h"

namespace lenstrove {

int64_t RectWidth(const OfxRectI& rect) { return int64_t{rect.x2} - rect.x1; }
int64_t RectHeight(const OfxRectI& rect) { return int64_t{rect.y2} - rect.y1; }

void ComputeDerivedGeometry(const RenderSettings& settings, FrameGeometry& geometry) {
  const OfxRectI& bounds = geometry.SourceBounds;
  geometry.Width = SaturateToInt32(RectWidth(bounds));
  geometry.Height = SaturateToInt32(RectHeight(bounds));
  geometry.CenterColumn = SaturateToInt32(bounds.x1 + int64_t{geometry.Width} / 2);
  geometry.CenterRow = SaturateToInt32(bounds.y1 + int64_t{geometry.Height} / 2);
  ComputeBandRows(settings, geometry);
  ComputeCropRows(settings, geometry);
}

}  // namespace lenstrove
