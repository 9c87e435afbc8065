// How the aids combine: the order the stages paint in, tiles that must give
// the same picture as one window, and values no slider can produce.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>

#include "stages/stage_test_support.h"

namespace lenstrove::testing {
namespace {

const OfxRectI kHd{0, 0, 1920, 1080};
const Rgba8 kGray{127, 127, 127, 255};
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

const Settings kEverything{{"FalseColorMode", 1}, {"LegalizeLevels", 1}, {"ShowSkinTonePatches", 1},
                           {"ShowSkinToneLine", 1}, {"ShowMiddleGray", 1},   {"GuideThirds", 1},
                           {"GuideGolden", 1},      {"GuideCrosshair", 1},  {"Crop185", 1},
                           {"CropOpacity", 0.5},    {"GrayLinePos", 0.3},   {"SkinLinePos", 0.45}};

TEST(StageOrder, BandsCoverGuides) {
  const host::Image output = RenderBytes(kHd, {{"GuideThirds", 1}, {"ShowMiddleGray", 1}});
  EXPECT_EQ(BytePixel(output, 640, 200), kGray) << "thirds column inside the gray band";
  EXPECT_TRUE(IsWhite(BytePixel(output, 640, 100)));
}

TEST(StageOrder, BarsDarkenEverythingOnTheirRows) {
  const host::Image output = RenderBytes(
      kHd, {{"GuideThirds", 1}, {"ShowMiddleGray", 1}, {"GrayLinePos", 0.0}, {"Crop239", 1}, {"CropOpacity", 0.5}});
  EXPECT_EQ(BytePixel(output, 100, 10), (Rgba8{63, 63, 63, 255})) << "gray band in the lower bar";
  EXPECT_EQ(BytePixel(output, 640, 1000), (Rgba8{127, 127, 127, 200})) << "thirds column in the upper bar";
}

TEST(Tiles, RenderingInWindowsGivesTheSamePicture) {
  const OfxRectI bounds{-30, 20, 610, 500};
  const host::Image source = NoiseByteImage(bounds, 3);
  const host::Image whole = RenderBytes(source, kEverything);

  PluginHarness harness;
  Apply(harness, kEverything);
  host::Image tiled(bounds, kOfxBitDepthByte);
  const int xs[] = {-30, 100, 101, 333, 610}, ys[] = {20, 21, 190, 377, 500};
  for (int i = 0; i + 1 < 5; ++i)
    for (int j = 0; j + 1 < 5; ++j)
      ASSERT_EQ(harness.Render(const_cast<host::Image&>(source), tiled, {xs[i], ys[j], xs[i + 1], ys[j + 1]}),
                kOfxStatOK);
  EXPECT_EQ(PixelBytes(tiled), PixelBytes(whole));
}

TEST(Tiles, FloatPicturesToo) {
  const OfxRectI bounds{0, 0, 300, 200};
  const host::Image source = FloatImage(bounds, [](int x, int y) { return RgbaF{x / 150.0f - 0.5f, y / 100.0f, 0.3f, 0.7f}; });
  PluginHarness harness;
  Apply(harness, kEverything);
  host::Image whole(bounds, kOfxBitDepthFloat), tiled(bounds, kOfxBitDepthFloat);
  ASSERT_EQ(harness.Render(const_cast<host::Image&>(source), whole), kOfxStatOK);
  for (int y = 0; y < 200; y += 37)
    for (int x = 0; x < 300; x += 61)
      ASSERT_EQ(harness.Render(const_cast<host::Image&>(source), tiled, {x, y, x + 61, y + 37}), kOfxStatOK);
  EXPECT_EQ(PixelBytes(tiled), PixelBytes(whole));
}

TEST(Switches, AnyNonZeroValueIsOn) {
  EXPECT_EQ(PixelBytes(RenderBytes({0, 0, 90, 60}, {{"GuideThirds", -7}})),
            PixelBytes(RenderBytes({0, 0, 90, 60}, {{"GuideThirds", 1}})));
}

// Values no host should send: each behaves as a sensible neighbour would.
TEST(CarelessHosts, NonFiniteDoublesFallBackToTheirDefaults) {
  const Settings defaults{{"ShowMiddleGray", 1}, {"ShowSkinToneLine", 1}, {"Crop235", 1}};
  const std::vector<uint8_t> expected = PixelBytes(RenderBytes(kHd, defaults));
  for (double bad : {kNaN, kInf, -kInf}) {
    Settings settings = defaults;
    for (const char* name : {"LineThickness", "SkinLinePos", "GrayLinePos", "CropOpacity"}) settings.push_back({name, bad});
    EXPECT_EQ(PixelBytes(RenderBytes(kHd, settings)), expected) << bad;
  }
}

TEST(CarelessHosts, HugeValuesSaturateInsteadOfWrappingAround) {
  // Rows far past the picture draw nothing; a band that would reach past
  // 32 bits does not wrap round onto the picture.
  const host::Image output = RenderBytes(
      kHd, {{"ShowMiddleGray", 1}, {"GrayLinePos", 1e300}, {"ShowSkinToneLine", 1}, {"SkinLinePos", -1e300},
            {"LineThickness", 1e300}});
  EXPECT_EQ(RowsWhere(output, 0, [](Rgba8 p) { return p.a == 255; }), "");
  const host::Image thick = RenderBytes(kHd, {{"ShowMiddleGray", 1}, {"GrayLinePos", 0.5}, {"LineThickness", 1e300}});
  EXPECT_EQ(RowsWhere(thick, 0, Is(kGray)), "540-1079");
  const host::Image negative = RenderBytes(kHd, {{"ShowMiddleGray", 1}, {"GrayLinePos", 0.5}, {"LineThickness", -5}});
  EXPECT_EQ(RowsWhere(negative, 0, Is(kGray)), "540");
}

TEST(CarelessHosts, OpacityOutsideItsRangeIsHeldToIt) {
  const host::Image source = FloatImage({0, 0, 8, 40}, [](int, int) { return RgbaF{1e38f, -3.0f, 0.5f, 0.5f}; });
  for (double opacity : {-1e300, -3.0, 1.5, 1e300}) {
    const host::Image output = RenderFloats(source, {{"Crop239", 1}, {"CropOpacity", opacity}});
    const RgbaF bar = FloatPixel(output, 0, 0);
    SCOPED_TRACE(opacity);
    for (float channel : {bar.r, bar.g, bar.b, bar.a}) EXPECT_FALSE(std::isnan(channel));
    if (opacity < 0) {
      EXPECT_EQ(std::make_tuple(bar.r, bar.g, bar.b, bar.a), std::make_tuple(1e38f, -3.0f, 0.5f, 0.5f));
    }
    if (opacity > 1) {
      EXPECT_EQ(std::make_tuple(bar.r, bar.g, bar.b, bar.a), std::make_tuple(0.0f, -0.0f, 0.0f, 1.0f));
    }
  }
}

}  // namespace
}  // namespace lenstrove::testing
