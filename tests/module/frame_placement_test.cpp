// Where the overlays sit when images are not the whole picture: hosts that
// hand out one tile per render call, renders at a reduced scale, squeezed
// pixels, and hosts whose answers about the picture cannot be used.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

#include "support/plugin_harness.h"
#include "tile_bounded_render.h"

namespace lenstrove::testing {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

void SwitchEverythingOn(PluginHarness& harness) {
  for (const char* name : {"ShowSkinTonePatches", "ShowSkinToneLine", "ShowMiddleGray", "LegalizeLevels",
                           "FalseColorMode", "GuideThirds", "GuideGolden", "GuideCrosshair", "Crop239"})
    harness.SetSwitch(name, true);
  harness.SetDouble("CropOpacity", 0.6);
}

// Aids whose places depend on the frame, over a picture left as it is.
void SwitchPlacedAidsOn(PluginHarness& harness) {
  for (const char* name : {"ShowSkinToneLine", "ShowMiddleGray", "GuideThirds", "GuideGolden", "GuideCrosshair",
                           "Crop185"})
    harness.SetSwitch(name, true);
  harness.SetDouble("CropOpacity", 0.5);
}

host::Image Picture(const OfxRectI& bounds, bool asFloat) {
  if (!asFloat) return NoiseByteImage(bounds, 7);
  return FloatImage(bounds, [](int x, int y) {
    return RgbaF{float((x * 37 + y * 11) % 97) / 80.0f - 0.1f, float((x * 5 + y * 23) % 89) / 89.0f,
                 float((x + y) % 13) / 12.0f, 1.0f};
  });
}

const char* DepthOf(bool asFloat) { return asFloat ? kOfxBitDepthFloat : kOfxBitDepthByte; }

TEST(TileBoundedImages, RenderTheSameBytesAsOneFullFrame) {
  const OfxRectI bounds{-7, 5, 90, 58};
  for (bool asFloat : {false, true}) {
    PluginHarness harness;
    SwitchEverythingOn(harness);
    host::Image source = Picture(bounds, asFloat);
    host::Image whole(bounds, DepthOf(asFloat));
    ASSERT_EQ(harness.Render(source, whole), kOfxStatOK);
    for (int tiles : {1, 3, 7}) {
      SCOPED_TRACE(std::string(DepthOf(asFloat)) + ", tiles " + std::to_string(tiles));
      host::Image tiled(bounds, DepthOf(asFloat));
      const auto windows = host::SplitIntoTiles(bounds, tiles);
      ASSERT_EQ(windows.size(), size_t(tiles));
      host::RenderTileBounded(harness.Plugin(), harness.Instance(), source, tiled, {}, windows).Check();
      EXPECT_EQ(PixelBytes(tiled), PixelBytes(whole));
      EXPECT_EQ(harness.Instance().ImagesOutstanding(), 0);
    }
  }
}

// The frame given by the clip, the render scale and the pixel aspect ratio;
// the rest as a host that hands out a picture of `bounds`.
struct PictureAnswers {
  OfxRectD region;
  double scaleX = 1, scaleY = 1;
  double aspect = 1;
};

std::vector<uint8_t> RenderPlaced(const OfxRectI& bounds, const PictureAnswers& answers,
                                  const std::function<void(host::Host&)>& faults = {}) {
  PluginHarness harness;
  SwitchPlacedAidsOn(harness);
  if (faults) faults(harness.Host());
  host::Image source = NoiseByteImage(bounds, 3), output(bounds, kOfxBitDepthByte);
  source.Properties().Set(kOfxImagePropPixelAspectRatio, 0, answers.aspect);
  host::Effect& instance = harness.Instance();
  instance.GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(&source);
  instance.GetClip(kOfxImageEffectOutputClipName).SetImage(&output);
  instance.GetClip(kOfxImageEffectSimpleSourceClipName).SetRegionOfDefinition(answers.region);
  host::RenderRequest request{0.0, bounds, answers.scaleX, answers.scaleY};
  EXPECT_EQ(harness.Plugin().Render(instance, request).status, kOfxStatOK);
  return PixelBytes(output);
}

// The same picture rendered where the image is the whole frame, then cut
// to `bounds`: what a render placed on `frame` must give.
std::vector<uint8_t> PlacedOnFrame(const OfxRectI& frame, const OfxRectI& bounds) {
  PluginHarness harness;
  SwitchPlacedAidsOn(harness);
  host::Image source = NoiseByteImage(bounds, 3), wide = NoiseByteImage(frame, 99), output(frame, kOfxBitDepthByte);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x) std::memcpy(wide.PixelAddress(x, y), source.PixelAddress(x, y), 4);
  EXPECT_EQ(harness.Render(wide, output), kOfxStatOK);
  host::Image cut(bounds, kOfxBitDepthByte);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x) std::memcpy(cut.PixelAddress(x, y), output.PixelAddress(x, y), 4);
  return PixelBytes(cut);
}

const OfxRectI kHalfSize{0, 0, 60, 30};
const OfxRectI kFullSize{0, 0, 120, 60};

TEST(FramePlacement, FollowsTheRenderScaleAndThePixelAspectRatio) {
  const auto halfFrame = PlacedOnFrame(kHalfSize, kHalfSize);
  EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 120, 60}, 0.5, 0.5}), halfFrame) << "render scale 0.5";
  EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 120, 30}, 1, 1, 2.0}), halfFrame) << "pixel aspect 2";
  // Fractional edges round outward, so the frame keeps every partial pixel.
  EXPECT_EQ(RenderPlaced(kHalfSize, {{0.4, 0.2, 119.2, 59.1}, 0.5, 0.5}), halfFrame);
  // A region wider than the image: the image is the frame's lower-left part.
  EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 120, 60}}), PlacedOnFrame(kFullSize, kHalfSize));
}

TEST(FramePlacement, UnusableScaleOrAspectCountsAsOne) {
  const auto onRegion = PlacedOnFrame(kFullSize, kHalfSize);
  for (double bad : {kNaN, kInfinity, 0.0, -0.5}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 120, 60}, bad, 1}), onRegion);
    EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 120, 60}, 1, bad}), onRegion);
    EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 120, 60}, 1, 1, bad}), onRegion);
  }
  const auto withheld = [](const char* property) {
    return [property](host::Host& host) { host.Faults().withheld_properties = {property}; };
  };
  EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 240, 60}, 0.5, 1}, withheld(kOfxImageEffectPropRenderScale)),
            PlacedOnFrame({0, 0, 240, 60}, kHalfSize));
  EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 240, 60}, 1, 1, 4.0}, withheld(kOfxImagePropPixelAspectRatio)),
            PlacedOnFrame({0, 0, 240, 60}, kHalfSize));
}

TEST(FramePlacement, AnUnusableRegionFallsBackToTheSourceBounds) {
  const auto onBounds = PlacedOnFrame(kHalfSize, kHalfSize);
  for (const OfxRectD& region : {OfxRectD{kNaN, 0, 120, 60}, OfxRectD{0, 0, kInfinity, 60},
                                 OfxRectD{0, -kInfinity, 120, 60}, OfxRectD{0, 0, 120, 0}, OfxRectD{50, 0, 20, 60}}) {
    SCOPED_TRACE(::testing::PrintToString(std::vector<double>{region.x1, region.y1, region.x2, region.y2}));
    EXPECT_EQ(RenderPlaced(kHalfSize, {region}), onBounds);
  }
  // Finite but past 32 bits: saturated, not a reason to fall back.
  EXPECT_NE(RenderPlaced(kHalfSize, {{0, 0, 1e300, 1e300}}), onBounds);
  const auto rejectRegion = [](host::Host& host) { host.Faults().rejected_functions = {"clipGetRegionOfDefinition"}; };
  EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 120, 60}}, rejectRegion), onBounds);
  // A huge scale overflows the product to infinity.
  EXPECT_EQ(RenderPlaced(kHalfSize, {{0, 0, 120, 60}, 1e307, 1e307}), onBounds);
}

}  // namespace
}  // namespace lenstrove::testing
