// Letterbox bars: which rows they take for each ratio and how the opacity
// darkens them.

#include <gtest/gtest.h>

#include <tuple>

#include "stages/stage_test_support.h"

namespace lenstrove::testing {
namespace {

const OfxRectI kHd{0, 0, 1920, 1080};
const Rgba8 kPicture{40, 80, 120, 200};
const Rgba8 kBlackBar{0, 0, 0, 255};

struct CropCase {
  const char* name;
  Settings settings;
  OfxRectI bounds;
  std::string barRows;
};

class CropRows : public ::testing::TestWithParam<CropCase> {};

TEST_P(CropRows, DarkenExactlyTheBarRows) {
  const CropCase& c = GetParam();
  const host::Image output = RenderBytes(c.bounds, c.settings, kPicture);
  EXPECT_EQ(RowsWhere(output, c.bounds.x1, Is(kBlackBar)), c.barRows);
  EXPECT_EQ(RowsWhere(output, c.bounds.x2 - 1, [](Rgba8 p) { return !(p == kPicture); }), c.barRows);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CropRows,
    ::testing::Values(CropCase{"Crop239", {{"Crop239", 1}}, kHd, "0-137 942-1079"},
                      CropCase{"Crop235", {{"Crop235", 1}}, kHd, "0-130 949-1079"},
                      CropCase{"Crop185", {{"Crop185", 1}}, kHd, "0-20 1059-1079"},
                      CropCase{"None", {}, kHd, ""},
                      CropCase{"WidestWins185And239", {{"Crop185", 1}, {"Crop239", 1}}, kHd, "0-137 942-1079"},
                      CropCase{"WidestWinsAllThree", {{"Crop185", 1}, {"Crop235", 1}, {"Crop239", 1}}, kHd,
                               "0-137 942-1079"},
                      CropCase{"WidestWins185And235", {{"Crop185", 1}, {"Crop235", 1}}, kHd, "0-130 949-1079"},
                      CropCase{"AlreadyAsWide", {{"Crop185", 1}}, {0, 0, 1998, 1080}, ""},
                      CropCase{"WiderThanTheRatio", {{"Crop235", 1}}, {0, 0, 2048, 858}, ""},
                      CropCase{"OneRowEachEnd", {{"Crop239", 1}}, {0, 0, 2048, 858}, "0 857"},
                      CropCase{"OffsetBounds", {{"Crop239", 1}}, {0, 100, 1920, 1180}, "100-237 1042-1179"}),
    [](const auto& info) { return std::string(info.param.name); });

struct OpacityCase {
  double opacity;
  RgbaF expected;  // for a source pixel of (0.8, -0.4, 2.0, 0.25)
};

TEST(CropOpacity, ScalesColourAndMakesOnlyNearlyOpaqueBarsOpaque) {
  const float f99 = 1.0f - static_cast<float>(0.99);
  const OpacityCase cases[] = {
      {1.0, {0.0f, -0.0f, 0.0f, 1.0f}},
      {0.5, {0.4f, -0.2f, 1.0f, 0.25f}},
      {0.0, {0.8f, -0.4f, 2.0f, 0.25f}},
      {0.99, {0.8f * f99, -0.4f * f99, 2.0f * f99, 0.25f}},  // below the single-precision 0.99
      {0.995, {0.8f * (1.0f - 0.995f), -0.4f * (1.0f - 0.995f), 2.0f * (1.0f - 0.995f), 1.0f}},
  };
  const host::Image source = FloatImage({0, 0, 8, 40}, [](int, int) { return RgbaF{0.8f, -0.4f, 2.0f, 0.25f}; });
  for (const OpacityCase& c : cases) {
    SCOPED_TRACE(c.opacity);
    const host::Image output = RenderFloats(source, {{"Crop239", 1}, {"CropOpacity", c.opacity}});
    const RgbaF bar = FloatPixel(output, 0, 0), clear = FloatPixel(output, 0, 20);
    EXPECT_EQ(std::make_tuple(bar.r, bar.g, bar.b, bar.a), std::make_tuple(c.expected.r, c.expected.g, c.expected.b, c.expected.a));
    EXPECT_EQ(std::make_tuple(clear.r, clear.g, clear.b, clear.a), std::make_tuple(0.8f, -0.4f, 2.0f, 0.25f));
  }
}

TEST(CropOpacity, OpaqueBarsAreBlackEvenOverTransparentBytes) {
  const host::Image output = RenderBytes(kHd, {{"Crop239", 1}}, {200, 100, 50, 0});
  EXPECT_EQ(BytePixel(output, 5, 5), kBlackBar);
  const host::Image half = RenderBytes(kHd, {{"Crop239", 1}, {"CropOpacity", 0.5}}, {200, 100, 50, 0});
  EXPECT_EQ(BytePixel(half, 5, 5), (Rgba8{100, 50, 25, 0}));
}

}  // namespace
}  // namespace lenstrove::testing
