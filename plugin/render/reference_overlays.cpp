// Bands of known colour across the whole picture: the skin-tone line and
// Macbeth skin patches, and the 18% middle-gray band. Both bands share one
// thickness, a percentage of the source height.

#include "render/geometry_math.h"
#include "render/stages.h"

namespace lenstrove {
namespace {

struct Rgb {
  float r, g, b;
};

constexpr Rgb kSkinLineLeftColor{1.0f, 0.52619296f, 0.29089886f};
constexpr Rgb kSkinLineRightColor{0.6627059f, 0.2744706f, 0.109764725f};
// The 8-bit values of the Macbeth chart's light-skin and dark-skin fields.
constexpr Rgb kLightSkinPatchColor{194.0f / 255.0f, 150.0f / 255.0f, 130.0f / 255.0f};
constexpr Rgb kDarkSkinPatchColor{115.0f / 255.0f, 82.0f / 255.0f, 68.0f / 255.0f};
constexpr float kMiddleGray = 0.5f;

// Row offset into a band, or -1 outside it. Offsets are taken in 64 bits:
// a band pushed to the edge of the 32-bit range must not wrap around.
int64_t BandOffset(int32_t y, int32_t startRow, int32_t thickness) {
  const int64_t offset = int64_t{y} - startRow;
  return offset >= 0 && offset < thickness ? offset : -1;
}

// A gradient from the warm left colour down to black at the centre column,
// then from black up toward the darker right colour at one past the last
// column.
Rgb SkinLineColor(int32_t x, const FrameGeometry& g) {
  const int64_t x1 = g.Frame.x1, center = g.CenterColumn, x2 = g.Frame.x2;
  if (x < center) {
    const float t = static_cast<float>(x - x1) / static_cast<float>(center - x1);
    const Rgb& c = kSkinLineLeftColor;
    return {c.r - t * c.r, c.g - t * c.g, c.b - t * c.b};
  }
  const float t = static_cast<float>(x - center) / static_cast<float>(x2 - center);
  const Rgb& c = kSkinLineRightColor;
  return {t * c.r, t * c.g, t * c.b};
}

void Paint(WorkPixel& pixel, const Rgb& colour) {
  pixel.R = colour.r;
  pixel.G = colour.g;
  pixel.B = colour.b;
  pixel.A = 1.0f;
}

}  // namespace

void ComputeBandRows(const RenderSettings& settings, FrameGeometry& geometry) {
  const int32_t y1 = geometry.Frame.y1;
  const int32_t thickness = TruncateToInt32((settings.LineThickness / 100.0) * geometry.Height);
  geometry.BandThickness = thickness < 1 ? 1 : thickness;
  geometry.SkinBandStartRow = SaturateToInt32(y1 + int64_t{TruncateToInt32(geometry.Height * settings.SkinLinePos)});
  geometry.GrayBandStartRow = SaturateToInt32(y1 + int64_t{TruncateToInt32(geometry.Height * settings.GrayLinePos)});
}

void ApplySkinToneBand(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                       const RenderSettings& settings) {
  if (settings.ShowSkinToneLine == 0 && settings.ShowSkinTonePatches == 0) return;
  const int64_t offset = BandOffset(y, geometry.SkinBandStartRow, geometry.BandThickness);
  if (offset < 0) return;

  bool patch = settings.ShowSkinTonePatches != 0;
  if (settings.ShowSkinToneLine != 0) {
    // With both on, the patches take the middle third of the band's rows.
    const int64_t thickness = geometry.BandThickness;
    if (patch) patch = offset >= thickness / 3 && offset < (2 * thickness) / 3;
    Paint(pixel, SkinLineColor(x, geometry));
  }
  if (patch) Paint(pixel, x < geometry.CenterColumn ? kLightSkinPatchColor : kDarkSkinPatchColor);
}

void ApplyMiddleGrayBand(WorkPixel& pixel, int32_t, int32_t y, const FrameGeometry& geometry,
                         const RenderSettings& settings) {
  if (settings.ShowMiddleGray == 0) return;
  if (BandOffset(y, geometry.GrayBandStartRow, geometry.BandThickness) < 0) return;
  Paint(pixel, {kMiddleGray, kMiddleGray, kMiddleGray});
}

}  // namespace lenstrove
