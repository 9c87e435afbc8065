// A host may hand over anything. Whatever the images claim, the render reads
// and writes nothing outside them, renders nothing it cannot address safely,
// gives both images back and answers OK.

#include <gtest/gtest.h>

#include <climits>
#include <functional>

#include "support/plugin_harness.h"

namespace lenstrove::testing {
namespace {

struct HostileCase {
  const char* name;
  std::function<void(host::Image& source, host::Image& output)> tamper;
};

class HostileImages : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileImages, RenderNothingAndReleaseBoth) {
  PluginHarness harness;
  harness.SetSwitch("GuideThirds", true);
  harness.SetSwitch("LegalizeLevels", true);
  host::Image source = NoiseByteImage({0, 0, 16, 8}), output({0, 0, 16, 8}, kOfxBitDepthByte);
  GetParam().tamper(source, output);
  const std::vector<uint8_t> sourceBefore = PixelBytes(source);

  EXPECT_EQ(harness.Render(source, output, {INT_MIN, INT_MIN, INT_MAX, INT_MAX}), kOfxStatOK);
  EXPECT_EQ(PixelBytes(output), std::vector<uint8_t>(16 * 8 * 4, 0));
  EXPECT_EQ(PixelBytes(source), sourceBefore);
  EXPECT_TRUE(source.GuardsIntact());
  EXPECT_TRUE(output.GuardsIntact());
  EXPECT_EQ(harness.Instance().ImagesReleased(), 2);
  EXPECT_EQ(harness.Instance().ImagesOutstanding(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileImages,
    ::testing::Values(
        // Extents that do not fit 32 bits: no offset may be computed from them.
        HostileCase{"SourceWidthOverflows", [](host::Image& s, host::Image&) { ClaimBounds(s, {INT_MIN, 0, INT_MAX, 8}); }},
        HostileCase{"SourceHeightOverflows", [](host::Image& s, host::Image&) { ClaimBounds(s, {0, -2, 16, INT_MAX}); }},
        HostileCase{"OutputWidthOverflows", [](host::Image&, host::Image& o) { ClaimBounds(o, {-1, 0, INT_MAX, 8}); }},
        HostileCase{"OutputHeightOverflows", [](host::Image&, host::Image& o) { ClaimBounds(o, {0, INT_MIN, 16, 1}); }},
        // Rows too short for the pixels they are said to hold.
        HostileCase{"SourceRowBytesZero", [](host::Image& s, host::Image&) { ClaimRowBytes(s, 0); }},
        HostileCase{"OutputRowBytesZero", [](host::Image&, host::Image& o) { ClaimRowBytes(o, 0); }},
        HostileCase{"SourceRowOneByteShort", [](host::Image& s, host::Image&) { ClaimRowBytes(s, 16 * 4 - 1); }},
        HostileCase{"OutputRowOneByteShortTopDown", [](host::Image&, host::Image& o) { ClaimRowBytes(o, -(16 * 4 - 1)); }},
        HostileCase{"ByteSourceBesideFloatOutput", [](host::Image&, host::Image& o) { ClaimDepth(o, kOfxBitDepthFloat); }},
        // Bounds that miss each other leave no pixel to render.
        HostileCase{"DisjointBounds", [](host::Image& s, host::Image&) { ClaimBounds(s, {100, 100, 116, 108}); }},
        HostileCase{"InvertedSourceBounds", [](host::Image& s, host::Image&) { ClaimBounds(s, {16, 8, 0, 0}); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HostileHost, AFloatSourceBesideAByteOutputCannotOverrunTheOutput) {
  PluginHarness harness;
  host::Image source = FloatImage({0, 0, 16, 8}, [](int, int) { return RgbaF{0.5f, 0.5f, 0.5f, 1.0f}; });
  host::Image output({0, 0, 16, 8}, kOfxBitDepthByte);
  ClaimDepth(output, kOfxBitDepthByte);  // the source's wide rows pick floats
  EXPECT_EQ(harness.Render(source, output), kOfxStatOK);
  EXPECT_EQ(PixelBytes(output), std::vector<uint8_t>(16 * 8 * 4, 0));
  EXPECT_TRUE(output.GuardsIntact());
}

TEST(HostileHost, AHostThatRejectsEveryCallGetsNothingWrittenAndNoCrash) {
  PluginHarness harness;
  host::Image source = NoiseByteImage({0, 0, 8, 8}), output({0, 0, 8, 8}, kOfxBitDepthByte);
  harness.Instance().GetClip("Source").SetImage(&source);
  harness.Instance().GetClip("Output").SetImage(&output);
  harness.Host().Faults().reject_everything = true;
  EXPECT_EQ(harness.Plugin().Render(harness.Instance(), {0.0, {0, 0, 8, 8}}).status, kOfxStatOK);
  harness.Host().Faults().reject_everything = false;
  EXPECT_EQ(PixelBytes(output), std::vector<uint8_t>(8 * 8 * 4, 0));
}

TEST(HostileHost, WithheldImagePropertiesRenderNothingOutsideTheImages) {
  for (const char* property : {kOfxImagePropBounds, kOfxImagePropRowBytes, kOfxImagePropData}) {
    SCOPED_TRACE(property);
    PluginHarness harness;
    harness.Host().Faults().withheld_properties = {property};
    host::Image source = NoiseByteImage({2, 3, 10, 9}), output({2, 3, 10, 9}, kOfxBitDepthByte);
    EXPECT_EQ(harness.Render(source, output), kOfxStatOK);
    EXPECT_TRUE(output.GuardsIntact());
    EXPECT_EQ(harness.Instance().ImagesOutstanding(), 0);
  }
}

}  // namespace
}  // namespace lenstrove::testing
