// The two stages that change the picture's own colour: the false-colour
// exposure view and the remap of full range into legal video levels.
// All arithmetic is single precision, in the order written: the results are
// compared bit for bit, so the luma sum must not be reassociated.

#include <limits>

#include "render/color_constants.h"
#include "render/stages.h"

namespace lenstrove {
namespace {

using namespace color;

constexpr float kInfinity = std::numeric_limits<float>::infinity();

struct FalseColorBand {
  float low;
  bool lowClosed;
  float high;
  bool highClosed;
  Rgb colour;
};

// Tested in order; the first match paints the pixel. Luma outside every band
// stays a plain gray. The outer bands reach to the infinities, so a float
// picture's super-whites read red and its negatives purple.
constexpr FalseColorBand kFalseColorBands[] = {
    {-kInfinity, true, kPurpleBelow, false, kFalseColorBandColors[0]},
    {kPurpleBelow, true, kBlueBelow, false, kFalseColorBandColors[1]},
    {kGreenFrom, true, kGreenTo, true, kFalseColorBandColors[2]},
    {kPinkFrom, true, kPinkTo, true, kFalseColorBandColors[3]},
    {kRedAbove, false, kInfinity, true, kFalseColorBandColors[4]},
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
    pixel.R = band.colour.r;
    pixel.G = band.colour.g;
    pixel.B = band.colour.b;
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
