// The thirds, golden and crosshair guides: three-pixel white lines at
// positions measured from the source bounds.

#include <gtest/gtest.h>

#include <tuple>

#include "stages/stage_test_support.h"

namespace lenstrove::testing {
namespace {

const OfxRectI kHd{0, 0, 1920, 1080};

TEST(ThirdsGuide, DividesAnHdFrame) {
  const host::Image output = RenderBytes(kHd, {{"GuideThirds", 1}});
  EXPECT_EQ(ColumnsWhere(output, 100, IsWhite), "639-641 1279-1281");
  EXPECT_EQ(RowsWhere(output, 100, IsWhite), "359-361 719-721");
  EXPECT_EQ(ColumnsWhere(output, 360, IsWhite), "0-1919");
}

TEST(ThirdsGuide, TheSecondLineDividesTheDoubledWidth) {
  const host::Image output = RenderBytes({0, 0, 1280, 90}, {{"GuideThirds", 1}});
  EXPECT_EQ(ColumnsWhere(output, 0, IsWhite), "425-427 852-854");
}

TEST(GoldenGuide, UsesTheDecimalFactors) {
  const host::Image output = RenderBytes(kHd, {{"GuideGolden", 1}});
  EXPECT_EQ(ColumnsWhere(output, 100, IsWhite), "732-734 1185-1187");
  EXPECT_EQ(RowsWhere(output, 100, IsWhite), "411-413 666-668");
}

TEST(CenterCrosshair, ArmsReachNineteenPixelsEachWay) {
  const host::Image output = RenderBytes(kHd, {{"GuideCrosshair", 1}});
  EXPECT_EQ(ColumnsWhere(output, 540, IsWhite), "941-979");
  EXPECT_EQ(ColumnsWhere(output, 541, IsWhite), "941-979");
  EXPECT_EQ(ColumnsWhere(output, 542, IsWhite), "959-961");
  EXPECT_EQ(ColumnsWhere(output, 560, IsWhite), "");
  EXPECT_EQ(RowsWhere(output, 960, IsWhite), "521-559");
  EXPECT_EQ(RowsWhere(output, 961, IsWhite), "521-559");
  EXPECT_EQ(RowsWhere(output, 962, IsWhite), "539-541");
  EXPECT_EQ(RowsWhere(output, 979, IsWhite), "539-541");
  EXPECT_EQ(RowsWhere(output, 980, IsWhite), "");
}

TEST(Guides, FollowOffsetSourceBounds) {
  const OfxRectI bounds{100, 50, 1380, 770};
  const host::Image thirds = RenderBytes(bounds, {{"GuideThirds", 1}});
  EXPECT_EQ(ColumnsWhere(thirds, 60, IsWhite), "525-527 952-954");
  EXPECT_EQ(RowsWhere(thirds, 110, IsWhite), "289-291 529-531");
  const host::Image cross = RenderBytes(bounds, {{"GuideCrosshair", 1}});
  EXPECT_EQ(ColumnsWhere(cross, 410, IsWhite), "721-759");
  EXPECT_EQ(RowsWhere(cross, 740, IsWhite), "391-429");
}

TEST(Guides, AreWhiteButKeepTheirAlpha) {
  const host::Image output = RenderBytes({0, 0, 90, 90}, {{"GuideThirds", 1}}, {10, 20, 30, 0});
  EXPECT_EQ(BytePixel(output, 30, 5), (Rgba8{255, 255, 255, 0}));
  const host::Image floats = RenderFloats(FloatImage({0, 0, 90, 90}, [](int, int) { return RgbaF{-2, 5, 0.5f, 0.25f}; }),
                                          {{"GuideThirds", 1}});
  const RgbaF guide = FloatPixel(floats, 30, 5);
  EXPECT_EQ(std::make_tuple(guide.r, guide.g, guide.b, guide.a), std::make_tuple(1.0f, 1.0f, 1.0f, 0.25f));
}

TEST(Guides, IgnoreTheBandThickness) {
  const Settings all{{"GuideThirds", 1}, {"GuideGolden", 1}, {"GuideCrosshair", 1}};
  Settings thin = all, thick = all;
  thin.push_back({"LineThickness", 0.1});
  thick.push_back({"LineThickness", 30});
  EXPECT_EQ(PixelBytes(RenderBytes(kHd, thin)), PixelBytes(RenderBytes(kHd, thick)));
}

TEST(Guides, ThirdsAndGoldenTogetherDrawBothGrids) {
  const host::Image output = RenderBytes(kHd, {{"GuideThirds", 1}, {"GuideGolden", 1}});
  EXPECT_EQ(ColumnsWhere(output, 100, IsWhite), "639-641 732-734 1185-1187 1279-1281");
}

}  // namespace
}  // namespace lenstrove::testing
