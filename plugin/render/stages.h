#pragma once

// The per-pixel stages, in the order the pixel loop applies them, and the
// per-render geometry they rely on. Each stage tests its own switches and
// changes the pixel in place; a later stage works on what the earlier ones
// left, so bands cover guides and the crop bars darken everything.

#include "render/render_types.h"

namespace lenstrove {

void ApplyFalseColor(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                     const RenderSettings& settings);
void ApplyLegalizeLevels(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                         const RenderSettings& settings);
void ApplyThirdsGuide(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                      const RenderSettings& settings);
void ApplyGoldenGuide(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                      const RenderSettings& settings);
void ApplyCenterCrosshair(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                          const RenderSettings& settings);
void ApplySkinToneBand(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                       const RenderSettings& settings);
void ApplyMiddleGrayBand(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                         const RenderSettings& settings);
void ApplyCropBars(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                   const RenderSettings& settings);

using StageFunction = void (*)(WorkPixel&, int32_t, int32_t, const FrameGeometry&, const RenderSettings&);

constexpr StageFunction kStageSequence[] = {
    ApplyFalseColor,  ApplyLegalizeLevels, ApplyThirdsGuide,    ApplyGoldenGuide,
    ApplyCenterCrosshair, ApplySkinToneBand, ApplyMiddleGrayBand, ApplyCropBars,
};

// Where the thirds and golden grids fall, measured from the source bounds;
// each line is three pixels wide around its position.
struct GridLines {
  int64_t columns[2];
  int64_t rows[2];
};
GridLines ThirdsGridLines(const FrameGeometry& geometry);
GridLines GoldenGridLines(const FrameGeometry& geometry);

// The crosshair's arms reach this many pixels minus one to each side.
constexpr int64_t kCrosshairArmLength = 20;

// The opacity slider is single precision in the original design, so the
// threshold for opaque bars is 0.99 as a float, widened: a double 0.99 falls
// just below it and keeps the alpha beneath.
constexpr double kOpaqueBarThreshold = static_cast<double>(0.99f);

// Derived rows, computed once per render before any pixel is touched.
void ComputeBandRows(const RenderSettings& settings, FrameGeometry& geometry);
void ComputeCropRows(const RenderSettings& settings, FrameGeometry& geometry);
bool IsBarRow(int32_t y, const FrameGeometry& geometry);

}  // namespace lenstrove
