// Thin white framing lines: the rule-of-thirds grid, the golden-ratio grid
// and a centre crosshair. Every line is three pixels wide; a guide pixel
// turns white and keeps its alpha.

#include <cstdlib>

#include "render/geometry_math.h"
#include "render/stages.h"

namespace lenstrove {
namespace {

// Decimal constants, not derived from phi at run time: stored projects were
// framed with exactly these positions.
constexpr double kGoldenLowFactor = 0.382;
constexpr double kGoldenHighFactor = 0.618;

bool NearLine(int64_t position, int64_t line) { return std::llabs(position - line) <= 1; }

bool OnGrid(const GridLines& grid, int64_t x, int64_t y) {
  return NearLine(x, grid.columns[0]) || NearLine(x, grid.columns[1]) || NearLine(y, grid.rows[0]) ||
         NearLine(y, grid.rows[1]);
}

void PaintGuide(WorkPixel& pixel) { pixel.R = pixel.G = pixel.B = 1.0f; }

}  // namespace

GridLines ThirdsGridLines(const FrameGeometry& g) {
  const int64_t x1 = g.Frame.x1, y1 = g.Frame.y1;
  // The second line divides the doubled extent: it is not twice the first.
  return {{x1 + g.Width / 3, x1 + (2 * int64_t{g.Width}) / 3},
          {y1 + g.Height / 3, y1 + (2 * int64_t{g.Height}) / 3}};
}

GridLines GoldenGridLines(const FrameGeometry& g) {
  const int64_t x1 = g.Frame.x1, y1 = g.Frame.y1;
  return {{x1 + TruncateToInt32(g.Width * kGoldenLowFactor), x1 + TruncateToInt32(g.Width * kGoldenHighFactor)},
          {y1 + TruncateToInt32(g.Height * kGoldenLowFactor), y1 + TruncateToInt32(g.Height * kGoldenHighFactor)}};
}

void ApplyThirdsGuide(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                      const RenderSettings& settings) {
  if (settings.GuideThirds != 0 && OnGrid(ThirdsGridLines(geometry), x, y)) PaintGuide(pixel);
}

void ApplyGoldenGuide(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                      const RenderSettings& settings) {
  if (settings.GuideGolden != 0 && OnGrid(GoldenGridLines(geometry), x, y)) PaintGuide(pixel);
}

void ApplyCenterCrosshair(WorkPixel& pixel, int32_t x, int32_t y, const FrameGeometry& geometry,
                          const RenderSettings& settings) {
  if (settings.GuideCrosshair == 0) return;
  const int64_t dx = std::llabs(int64_t{x} - geometry.CenterColumn);
  const int64_t dy = std::llabs(int64_t{y} - geometry.CenterRow);
  const bool verticalArm = dx <= 1 && dy < kCrosshairArmLength;
  const bool horizontalArm = dy <= 1 && dx < kCrosshairArmLength;
  if (verticalArm || horizontalArm) PaintGuide(pixel);
}

}  // namespace lenstrove
