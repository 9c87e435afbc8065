// The skin-tone band and the 18% gray band: where their rows fall, how the
// line and patches share the band, and the colours stored.

#include <gtest/gtest.h>

#include <tuple>

#include "stages/stage_test_support.h"

namespace lenstrove::testing {
namespace {

const OfxRectI kHd{0, 0, 1920, 1080};
const Rgba8 kGray{127, 127, 127, 255};
const Rgba8 kLightPatch{194, 150, 130, 255};
const Rgba8 kDarkPatch{115, 82, 68, 255};

bool IsOpaqueBand(Rgba8 p) { return p.a == 255 && !(p == Rgba8{40, 80, 120, 255}); }

// A transparent picture, so every band pixel shows by its alpha.
host::Image RenderHd(const Settings& settings, const OfxRectI& bounds = kHd) {
  return RenderBytes(bounds, settings, {40, 80, 120, 0});
}

TEST(MiddleGrayBand, SitsAtItsDefaultRowsAcrossTheWholeWidth) {
  const host::Image output = RenderHd({{"ShowMiddleGray", 1}});
  EXPECT_EQ(RowsWhere(output, 0, Is(kGray)), "129-290");
  EXPECT_EQ(RowsWhere(output, 1919, Is(kGray)), "129-290");
  EXPECT_EQ(ColumnsWhere(output, 200, Is(kGray)), "0-1919");
  EXPECT_EQ(RowsWhere(output, 500, [](Rgba8 p) { return p.a != 0; }), "129-290");
}

TEST(SkinToneBand, TheLineRunsFromWarmThroughBlackAtTheCentre) {
  const host::Image output = RenderHd({{"ShowSkinToneLine", 1}});
  EXPECT_EQ(RowsWhere(output, 0, IsOpaqueBand), "788-949");
  EXPECT_EQ(BytePixel(output, 0, 800), (Rgba8{255, 134, 74, 255}));
  EXPECT_EQ(BytePixel(output, 960, 800), (Rgba8{0, 0, 0, 255}));
  const host::Image floats = RenderFloats(FloatImage(kHd, [](int, int) { return RgbaF{0.2f, 0.2f, 0.2f, 0.0f}; }),
                                          {{"ShowSkinToneLine", 1}});
  const RgbaF left = FloatPixel(floats, 0, 800), centre = FloatPixel(floats, 960, 800);
  const RgbaF last = FloatPixel(floats, 1919, 800);
  EXPECT_EQ(std::make_tuple(left.r, left.g, left.b, left.a), std::make_tuple(1.0f, 0.52619296f, 0.29089886f, 1.0f));
  EXPECT_EQ(std::make_tuple(centre.r, centre.g, centre.b), std::make_tuple(0.0f, 0.0f, 0.0f));
  const float t = 959.0f / 960.0f;
  EXPECT_EQ(std::make_tuple(last.r, last.g, last.b), std::make_tuple(t * 0.6627059f, t * 0.2744706f, t * 0.109764725f));
  // Halfway to the centre the left colour has fallen by half.
  const RgbaF half = FloatPixel(floats, 480, 800);
  EXPECT_EQ(half.r, 1.0f - 0.5f * 1.0f);
}

TEST(SkinToneBand, LineAndPatchesShareTheBandInThirds) {
  const host::Image output = RenderHd({{"ShowSkinToneLine", 1}, {"ShowSkinTonePatches", 1}});
  EXPECT_EQ(RowsWhere(output, 0, Is(kLightPatch)), "842-895");
  EXPECT_EQ(RowsWhere(output, 0, Is(Rgba8{255, 134, 74, 255})), "788-841 896-949");
  EXPECT_EQ(RowsWhere(output, 1919, Is(kDarkPatch)), "842-895");
}

TEST(SkinToneBand, PatchesAloneFillTheBandSplitAtTheCentreColumn) {
  const host::Image output = RenderHd({{"ShowSkinTonePatches", 1}}, {0, 0, 1921, 1080});
  EXPECT_EQ(RowsWhere(output, 0, Is(kLightPatch)), "788-949");
  EXPECT_EQ(ColumnsWhere(output, 800, Is(kLightPatch)), "0-959");
  EXPECT_EQ(ColumnsWhere(output, 800, Is(kDarkPatch)), "960-1920");
}

TEST(SkinToneBand, ThinBandsSplitByIntegerThirds) {
  struct Case {
    double thickness;
    int height;
    std::string lineRows, patchRows;
  };
  // Thickness 0.1% of 720 rows is 0.72, raised to one row: the line. Two
  // rows: patches then line; three: line, patches, line.
  for (const Case& c : {Case{0.1, 720, "525", ""}, Case{2.0 / 7.2, 720, "526", "525"}, Case{0.2, 1000, "731", "730"},
                        Case{0.3, 1000, "730 732", "731"}}) {
    SCOPED_TRACE(c.thickness);
    const host::Image output = RenderHd({{"ShowSkinToneLine", 1}, {"ShowSkinTonePatches", 1}, {"LineThickness", c.thickness}},
                                        {0, 0, 8, c.height});
    EXPECT_EQ(RowsWhere(output, 0, Is(Rgba8{255, 134, 74, 255})), c.lineRows);
    EXPECT_EQ(RowsWhere(output, 0, Is(kLightPatch)), c.patchRows);
  }
}

TEST(Bands, ThicknessDividesBeforeItMultiplies) {
  // 17.5 / 100 * 720 is 125.99999999999999 in doubles: 125 rows, not 126.
  const host::Image output = RenderHd({{"ShowMiddleGray", 1}, {"LineThickness", 17.5}, {"GrayLinePos", 0.0}},
                                      {0, 0, 4, 720});
  EXPECT_EQ(RowsWhere(output, 0, Is(kGray)), "0-124");
}

TEST(Bands, ABandStartingAtTheTopDrawsNothingAndOneNearItIsCut) {
  EXPECT_EQ(RowsWhere(RenderHd({{"ShowSkinToneLine", 1}, {"SkinLinePos", 1.0}}), 0, IsOpaqueBand), "");
  EXPECT_EQ(RowsWhere(RenderHd({{"ShowMiddleGray", 1}, {"GrayLinePos", 0.95}}), 0, Is(kGray)), "1026-1079");
}

TEST(Bands, TheGrayBandCoversTheSkinBandWhereTheyMeet) {
  const host::Image output = RenderHd({{"ShowMiddleGray", 1}, {"ShowSkinToneLine", 1}, {"GrayLinePos", 0.75}});
  EXPECT_EQ(RowsWhere(output, 0, Is(kGray)), "810-971");
  EXPECT_EQ(RowsWhere(output, 0, Is(Rgba8{255, 134, 74, 255})), "788-809");
}

TEST(Bands, KeepTheirExactColoursOverFalseColourAndLegalLevels) {
  for (const char* colourOp : {"FalseColorMode", "LegalizeLevels"}) {
    const host::Image output = RenderHd({{colourOp, 1}, {"ShowMiddleGray", 1}, {"ShowSkinTonePatches", 1}});
    EXPECT_EQ(BytePixel(output, 10, 200), kGray) << colourOp;
    EXPECT_EQ(BytePixel(output, 10, 800), kLightPatch) << colourOp;
  }
}

TEST(Bands, AreMeasuredFromTheSourceBounds) {
  const host::Image output =
      RenderHd({{"ShowMiddleGray", 1}, {"ShowSkinTonePatches", 1}}, {100, -50, 2020, 1030});
  EXPECT_EQ(RowsWhere(output, 100, Is(kGray)), "79-240");
  EXPECT_EQ(ColumnsWhere(output, 800, Is(kLightPatch)), "100-1059");
}

TEST(SkinToneBand, AOneColumnPictureIsAllCentre) {
  const host::Image output = RenderHd({{"ShowSkinToneLine", 1}}, {7, 0, 8, 100});
  EXPECT_EQ(BytePixel(output, 7, 80), (Rgba8{0, 0, 0, 255}));
  const host::Image patches = RenderHd({{"ShowSkinTonePatches", 1}}, {7, 0, 8, 100});
  EXPECT_EQ(BytePixel(patches, 7, 80), kDarkPatch);
}

}  // namespace
}  // namespace lenstrove::testing
