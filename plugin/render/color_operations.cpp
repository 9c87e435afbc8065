// The two stages that change the picture's own colour: the false-colour
// exposure view and the remap of full range into legal video levels.
// All arithmetic is single precision, in the order written: the results are
// compared bit for bit, so the luma sum must not be reassociated.

#include <limits>

#include "render/stages.h"

namespace lenstrove {
namespace {

// ITU-R BT.709 luma weights.
constexpr float kLumaWeightRed = 0.2126f;
constexpr float kLumaWeightGreen = 0.7152f;
constexpr float kLumaWeightBlue = 0.0722f;

constexpr float kLegalScale = 219.0f / 255.0f;
constexpr float kLegalOffset = 16.0f / 255.0f;

constexpr float kInfinity = std::numeric_limits<float>::infinity();

struct FalseColorBand {
  float low;
  bool lowClosed;
  float high;
  bool highClosed;
  float r, g, b;
};

// Tested in order; the first match paints the pixel. Luma outside every band
// stays a plain gray. The outer bands reach to the infinities, so a float
// picture's super-whites read red and its negatives purple.
constexpr FalseColorBand kFalseColorBands[] = {
    {-kInfinity, true, 0.05f, false, 0.5f, 0.0f, 0.5f},  // purple: crushed blacks
    {0.05f, true, 0.1f, false, 0.0f, 0.0f, 1.0f},        // blue: deep shadows
    {0.4f, true, 0.45f, true, 0.0f, 1.0f, 0.0f},         // green: middle gray
    {0.52f, true, 0.58f, true, 1.0f, 0.4f, 0.6f},        // pink: skin
    {0.95f, false, kInfinity, true, 1.0f, 0.0f, 0.0f},   // red: clipping
};

bool InBand(float luma, const FalseColorBand& band) {
  const bool aboveLow = band.lowClosed ? luma >= band.low : luma > band.low;
  const bool belowHigh = band.highClosed ? luma <= band.high : luma < band.high;
  return aboveLow && belowHigh;
}

}  // namespace

void ApplyFalseColor(WorkPixel& pixel, int32_t, int32_t, const FrameGeometry&, const RenderSettings& settings) {
  if (settings.FalseColorMode == 0) return;
  const float luma = (kLumaWeightGreen * pixel.G + kLumaWeightRed * pixel.R) + kLumaWeightBlue * pixel.B;
  pixel.R = pixel.G = pixel.B = luma;
  for (const FalseColorBand& band : kFalseColorBands) {
    if (!InBand(luma, band)) continue;
    pixel.R = band.r;
    pixel.G = band.g;
    pixel.B = band.b;
    return;
  }
}

void ApplyLegalizeLevels(WorkPixel& pixel, int32_t, int32_t, const FrameGeometry&,
                         const RenderSettings& settings) {
  if (settings.LegalizeLevels == 0 || settings.FalseColorMode != 0) return;
  pixel.R = pixel.R * kLegalScale + kLegalOffset;
  pixel.G = pixel.G * kLegalScale + kLegalOffset;
  pixel.B = pixel.B * kLegalScale + kLegalOffset;
}

}  // namespace lenstrove
