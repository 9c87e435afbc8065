// The render action as a host drives it: the calls it makes, the pixel
// layout it picks, and a faithful copy of every pixel of the window when no
// aid is on, whatever the images' bounds and row layout.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <optional>

#include "support/plugin_harness.h"

namespace lenstrove::testing {
namespace {

float FromBits(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Every pixel inside `window` equals the source's pixel at the same
// coordinates; every other output pixel is still zero.
void ExpectCopiedWindow(const host::Image& source, const host::Image& output, const OfxRectI& window) {
  const OfxRectI& b = output.Bounds();
  const size_t size = output.PixelBytes();
  const std::vector<unsigned char> zero(size, 0);
  int mismatches = 0;
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x) {
      const bool inside = x >= window.x1 && x < window.x2 && y >= window.y1 && y < window.y2;
      const unsigned char* expected = inside ? source.PixelAddress(x, y) : zero.data();
      if (std::memcmp(output.PixelAddress(x, y), expected, size) != 0 && ++mismatches < 5)
        ADD_FAILURE() << "pixel (" << x << ", " << y << ") " << (inside ? "not copied" : "written outside");
    }
  EXPECT_EQ(mismatches, 0);
  EXPECT_TRUE(output.GuardsIntact());
  EXPECT_TRUE(source.GuardsIntact());
}

TEST(RenderCalls, AskTheHostInTheDocumentedOrder) {
  PluginHarness harness;
  host::Image source({0, 0, 4, 4}, kOfxBitDepthByte), output({0, 0, 4, 4}, kOfxBitDepthByte);
  harness.Host().Log().Clear();
  ASSERT_EQ(harness.Render(source, output, 2.5), kOfxStatOK);

  std::vector<std::string> expected{
      "propGetDouble(render inArgs, OfxPropTime, 0)",
      "clipGetHandle(instance, Source)",
      "clipGetHandle(instance, Output)",
      "clipGetImage(clip Source, 2.5, null)",
      "clipGetImage(clip Output, 2.5, null)",
      "propGetString(image Output, OfxImageEffectPropPixelDepth, 0)",
      "propGetInt(image Source, OfxImagePropRowBytes, 0)",
      "propGetIntN(image Source, OfxImagePropBounds, 4)",
      "propGetPointer(image Source, OfxImagePropData, 0)",
      "propGetPointer(image Output, OfxImagePropData, 0)",
      "propGetInt(image Output, OfxImagePropRowBytes, 0)",
      "propGetIntN(image Output, OfxImagePropBounds, 4)",
      "propGetIntN(render inArgs, OfxImageEffectPropRenderWindow, 4)",
      "propGetDoubleN(render inArgs, OfxImageEffectPropRenderScale, 2)",
      "propGetDouble(image Source, OfxImagePropPixelAspectRatio, 0)",
      "clipGetRegionOfDefinition(clip Source, 2.5)",
      "getParamSet(instance)",
  };
  for (const char* name : {"ShowSkinTonePatches", "ShowSkinToneLine", "ShowMiddleGray", "LegalizeLevels",
                           "FalseColorMode", "GuideThirds", "GuideGolden", "GuideCrosshair", "Crop185", "Crop235",
                           "Crop239", "CropOpacity", "LineThickness", "SkinLinePos", "GrayLinePos"}) {
    expected.push_back("paramGetHandle(param set, " + std::string(name) + ")");
    expected.push_back("paramGetValueAtTime(param " + std::string(name) + ", 2.5)");
  }
  expected.push_back("clipReleaseImage(image Source)");
  expected.push_back("clipReleaseImage(image Output)");
  EXPECT_EQ(CallList(harness.Host().Log()), expected);
}

TEST(RenderCalls, AMissingParameterSuiteRendersWithTheDefaults) {
  host::Host host;
  host.Faults().missing_suites = {"OfxParameterSuite"};
  auto plugin = host.Open(kBundlePath);
  host::Effect& instance = plugin->Instantiate(kOfxImageEffectContextFilter);
  host::Image source = NoiseByteImage({0, 0, 16, 8}), output({0, 0, 16, 8}, kOfxBitDepthByte);
  instance.GetClip("Source").SetImage(&source);
  instance.GetClip("Output").SetImage(&output);
  host.Log().Clear();
  EXPECT_EQ(plugin->Render(instance, {0.0, {0, 0, 16, 8}}).status, kOfxStatOK);
  EXPECT_EQ(host.Log().Count("getParamSet"), 0u);
  ExpectCopiedWindow(source, output, {0, 0, 16, 8});
  plugin->Shutdown();
}

TEST(RenderCopy, EveryByteValueSurvivesInEveryChannel) {
  PluginHarness harness;
  const OfxRectI bounds{0, 0, 256, 4};
  host::Image source = ByteImage(bounds, [](int x, int y) {
    const auto v = [&](int k) { return uint8_t((x + 64 * ((y + k) % 4)) % 256); };
    return Rgba8{v(0), v(1), v(2), v(3)};
  });
  host::Image output(bounds, kOfxBitDepthByte);
  ASSERT_EQ(harness.Render(source, output), kOfxStatOK);
  EXPECT_EQ(PixelBytes(output), PixelBytes(source));
}

TEST(RenderCopy, FloatValuesAreCopiedBitForBit) {
  const std::vector<uint32_t> bits{
      0x00000000, 0x80000000,                          // zero and negative zero
      0x3f800000, 0x3fd9999a, 0xbe99999a,              // 1.0, 1.7, -0.3
      0x7f800000, 0xff800000,                          // infinities
      0x7fc00000, 0x7fc12345, 0xffc00001, 0x7fa00001,  // quiet NaNs with payloads, a signalling NaN
      0x00000001, 0x807fffff, 0x7f7fffff,              // denormals and the largest float
  };
  PluginHarness harness;
  const OfxRectI bounds{0, 0, int(bits.size()), 4};
  host::Image source = FloatImage(bounds, [&](int x, int y) {
    const auto v = [&](int k) { return FromBits(bits[(x + k * 3 + y) % bits.size()]); };
    return RgbaF{v(0), v(1), v(2), v(3)};
  });
  host::Image output(bounds, kOfxBitDepthFloat);
  ASSERT_EQ(harness.Render(source, output), kOfxStatOK);
  EXPECT_EQ(PixelBytes(output), PixelBytes(source));
}

struct LayoutCase {
  const char* name;
  bool floatPixels;
  std::optional<std::string> claimedDepth;  // none: the property is withheld
  bool expectCopy;
};

class PixelLayoutDecision : public ::testing::TestWithParam<LayoutCase> {};

// A wrong layout either garbles the copy or, where rows are too short for
// it, writes nothing; both show in the output.
TEST_P(PixelLayoutDecision, FollowsTheDepthOrTheSourceRowWidth) {
  const LayoutCase& c = GetParam();
  PluginHarness harness;
  const OfxRectI bounds{0, 0, 9, 5};
  const char* depth = c.floatPixels ? kOfxBitDepthFloat : kOfxBitDepthByte;
  host::Image source =
      c.floatPixels ? FloatImage(bounds, [](int x, int y) { return RgbaF{x * 0.25f, y * 0.5f, -1.5f, 2.0f}; })
                    : NoiseByteImage(bounds);
  host::Image output(bounds, depth);
  if (c.claimedDepth)
    ClaimDepth(output, *c.claimedDepth);
  else
    output.Properties().Erase(kOfxImageEffectPropPixelDepth);
  harness.Instance().Params().Get("LegalizeLevels").SetInt(0);
  ASSERT_EQ(harness.Render(source, output), kOfxStatOK);
  if (c.expectCopy)
    EXPECT_EQ(PixelBytes(output), PixelBytes(source));
  else
    EXPECT_EQ(PixelBytes(output), std::vector<uint8_t>(PixelBytes(output).size(), 0));
  EXPECT_TRUE(output.GuardsIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PixelLayoutDecision,
    ::testing::Values(LayoutCase{"FloatDepth", true, std::string(kOfxBitDepthFloat), true},
                      LayoutCase{"ByteDepthByteRows", false, std::string(kOfxBitDepthByte), true},
                      // Float pixels reported as bytes: the row width decides.
                      LayoutCase{"ByteDepthFloatRows", true, std::string(kOfxBitDepthByte), true},
                      LayoutCase{"NoDepthFloatRows", true, std::nullopt, true},
                      LayoutCase{"NoDepthByteRows", false, std::nullopt, true},
                      // "Float" anywhere in the name picks floats, which byte rows cannot hold.
                      LayoutCase{"FloatInsideAnotherName", false, std::string("MyFloatDepth"), false},
                      LayoutCase{"ShortNameNeverMatches", false, std::string("Floa"), true},
                      LayoutCase{"CaseMatters", false, std::string("OfxBitDepthFLOAT"), true}),
    [](const auto& info) { return std::string(info.param.name); });

struct GeometryCase {
  const char* name;
  OfxRectI sourceBounds;
  int sourceRowBytes;
  OfxRectI outputBounds;
  int outputRowBytes;
  OfxRectI window;
  OfxRectI expectedWindow;
};

class CopyGeometry : public ::testing::TestWithParam<GeometryCase> {};

TEST_P(CopyGeometry, CopiesExactlyTheWindowInsideBothImages) {
  const GeometryCase& c = GetParam();
  for (bool floats : {false, true}) {
    SCOPED_TRACE(floats ? "float" : "byte");
    PluginHarness harness;
    const int pixel = floats ? 16 : 4;
    const int sourceRow = c.sourceRowBytes * pixel / 4, outputRow = c.outputRowBytes * pixel / 4;
    host::Image source = floats ? FloatImage(c.sourceBounds, [](int x, int y) { return RgbaF{float(x), float(y), -0.0f, 1.5f}; },
                                             sourceRow)
                                : NoiseByteImage(c.sourceBounds, 7, sourceRow);
    host::Image output(c.outputBounds, floats ? kOfxBitDepthFloat : kOfxBitDepthByte, kOfxImageComponentRGBA,
                       outputRow);
    ASSERT_EQ(harness.Render(source, output, c.window), kOfxStatOK);
    ExpectCopiedWindow(source, output, c.expectedWindow);
    EXPECT_EQ(harness.Instance().ImagesOutstanding(), 0);
  }
}

// Row bytes are given for byte pixels and scaled for floats; 0 means tight.
INSTANTIATE_TEST_SUITE_P(
    Cases, CopyGeometry,
    ::testing::Values(
        GeometryCase{"WholeFrame", {0, 0, 33, 17}, 0, {0, 0, 33, 17}, 0, {0, 0, 33, 17}, {0, 0, 33, 17}},
        GeometryCase{"OffsetBounds", {100, -50, 131, -31}, 0, {100, -50, 131, -31}, 0, {100, -50, 131, -31},
                     {100, -50, 131, -31}},
        GeometryCase{"PaddedRows", {0, 0, 21, 9}, 21 * 4 + 12, {0, 0, 21, 9}, 21 * 4 + 36, {0, 0, 21, 9},
                     {0, 0, 21, 9}},
        GeometryCase{"TopDownRows", {0, 0, 21, 9}, -21 * 4, {0, 0, 21, 9}, -(21 * 4 + 8), {0, 0, 21, 9},
                     {0, 0, 21, 9}},
        GeometryCase{"DifferentBounds", {-10, -10, 30, 30}, 0, {5, 3, 25, 19}, -(20 * 4), {5, 3, 25, 19},
                     {5, 3, 25, 19}},
        GeometryCase{"RenderWindow", {0, 0, 40, 30}, 0, {0, 0, 40, 30}, 0, {7, 5, 19, 23}, {7, 5, 19, 23}},
        GeometryCase{"SingleRowWindow", {0, 0, 40, 30}, 0, {0, 0, 40, 30}, 0, {0, 29, 40, 30}, {0, 29, 40, 30}},
        GeometryCase{"EmptyWindow", {0, 0, 10, 10}, 0, {0, 0, 10, 10}, 0, {5, 5, 5, 9}, {0, 0, 0, 0}},
        GeometryCase{"InvertedWindow", {0, 0, 10, 10}, 0, {0, 0, 10, 10}, 0, {8, 8, 2, 2}, {0, 0, 0, 0}},
        // A window reaching past an image is cut to what both images hold.
        GeometryCase{"WindowPastBothImages", {0, 0, 20, 20}, 0, {4, 4, 30, 30}, 0, {-100, -100, 100, 100},
                     {4, 4, 20, 20}},
        GeometryCase{"WindowMissesTheSource", {0, 0, 10, 10}, 0, {20, 20, 30, 30}, 0, {20, 20, 30, 30},
                     {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RenderWindow, AHostThatSendsNoneGetsTheWholeSourceRendered) {
  PluginHarness harness;
  harness.Host().Faults().withheld_properties = {kOfxImageEffectPropRenderWindow};
  host::Image source = NoiseByteImage({-3, -3, 13, 9}), output({-8, -8, 20, 20}, kOfxBitDepthByte);
  ASSERT_EQ(harness.Render(source, output, {0, 0, 1, 1}), kOfxStatOK);
  ExpectCopiedWindow(source, output, {-3, -3, 13, 9});
}

TEST(RenderFailures, AMissingImageReleasesTheOtherAndWritesNothing) {
  for (const char* missing : {"Source", "Output"}) {
    SCOPED_TRACE(missing);
    PluginHarness harness;
    host::Image source = NoiseByteImage({0, 0, 8, 8}), output({0, 0, 8, 8}, kOfxBitDepthByte);
    harness.Instance().GetClip("Source").SetImage(&source);
    harness.Instance().GetClip("Output").SetImage(&output);
    harness.Instance().GetClip(missing).SetImage(nullptr);
    harness.Host().Log().Clear();
    EXPECT_EQ(harness.Plugin().Render(harness.Instance(), {0.0, {0, 0, 8, 8}}).status, kOfxStatOK);
    EXPECT_EQ(harness.Instance().ImagesFetched(), 1);
    EXPECT_EQ(harness.Instance().ImagesReleased(), 1);
    EXPECT_EQ(harness.Host().Log().Count("propGetPointer"), 0u);
    EXPECT_EQ(PixelBytes(output), std::vector<uint8_t>(8 * 8 * 4, 0));
  }
}

TEST(RenderFailures, AMissingDataPointerReleasesBothAndWritesNothing) {
  for (bool erase : {false, true}) {
    for (const char* which : {"Source", "Output"}) {
      SCOPED_TRACE(std::string(which) + (erase ? " without the property" : " with a null pointer"));
      PluginHarness harness;
      host::Image source = NoiseByteImage({0, 0, 8, 8}), output({0, 0, 8, 8}, kOfxBitDepthByte);
      host::Image& broken = std::string(which) == "Source" ? source : output;
      if (erase)
        broken.Properties().Erase(kOfxImagePropData);
      else
        broken.Properties().Set(kOfxImagePropData, 0, static_cast<void*>(nullptr));
      EXPECT_EQ(harness.Render(source, output), kOfxStatOK);
      EXPECT_EQ(harness.Instance().ImagesReleased(), 2);
      EXPECT_EQ(PixelBytes(output), std::vector<uint8_t>(8 * 8 * 4, 0));
    }
  }
}

// The gray band makes the parameter reads visible: its rows depend on the
// height fraction and the thickness.
std::vector<int> GrayRows(const host::Image& output) {
  std::vector<int> rows;
  for (int y = output.Bounds().y1; y < output.Bounds().y2; ++y)
    if (BytePixel(output, 0, y) == (Rgba8{127, 127, 127, 255})) rows.push_back(y);
  return rows;
}

std::vector<int> Range(int first, int last) {
  std::vector<int> rows;
  for (int y = first; y <= last; ++y) rows.push_back(y);
  return rows;
}

TEST(RenderSettings, AParameterTheHostCannotFindKeepsItsDefault) {
  PluginHarness harness;
  harness.SetSwitch("ShowMiddleGray", true);
  harness.SetDouble("GrayLinePos", 0.5);
  harness.SetDouble("LineThickness", 30.0);
  harness.Host().Faults().failing_param_handles = {"LineThickness"};
  host::Image source({0, 0, 4, 100}, kOfxBitDepthByte), output({0, 0, 4, 100}, kOfxBitDepthByte);
  ASSERT_EQ(harness.Render(source, output), kOfxStatOK);
  EXPECT_EQ(GrayRows(output), Range(50, 64)) << "15% of 100 rows from row 50";
}

TEST(RenderSettings, AnimatedValuesAreTakenAtTheRenderTime) {
  PluginHarness harness;
  harness.SetSwitch("ShowMiddleGray", true);
  harness.SetDouble("LineThickness", 10.0);
  host::Param& position = harness.Instance().Params().Get("GrayLinePos");
  position.SetDoubleAt(0.0, 0.1);
  position.SetDoubleAt(10.0, 0.5);
  host::Image source({0, 0, 4, 100}, kOfxBitDepthByte), output({0, 0, 4, 100}, kOfxBitDepthByte);
  ASSERT_EQ(harness.Render(source, output, 5.0), kOfxStatOK);
  EXPECT_EQ(GrayRows(output), Range(30, 39));
  ASSERT_EQ(harness.Render(source, output, 20.0), kOfxStatOK);
  EXPECT_EQ(GrayRows(output), Range(50, 59)) << "held after the last key";
}

}  // namespace
}  // namespace lenstrove::testing
