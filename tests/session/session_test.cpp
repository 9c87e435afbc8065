// The render session's API on every platform built: typed parameter values
// checked as the plug-in declared them; pictures in memory of 1, 3 and 4
// channels at every sample type, with padded rows stored either way up,
// rendered through a support-library plug-in and through the project's own
// module against references made without the session; and failures that
// carry the plug-in's own words.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "convert.h"
#include "support/plugin_harness.h"
#include "session/session.h"

namespace lenstrove::testing {
namespace {

using session::Picture;
using session::RowOrder;
using session::SampleType;

session::SearchOptions Options(const std::string& folder = "") {
  session::SearchOptions options;
  if (!folder.empty()) options.folders = {folder};
  options.scanners = {LENSTROVE_SCANNER};
#ifdef LENSTROVE_SCAN_LAUNCHER
  for (std::string rest = LENSTROVE_SCAN_LAUNCHER; !rest.empty();) {
    const std::size_t bar = rest.find('|');
    options.launcher.push_back(rest.substr(0, bar));
    rest = bar == std::string::npos ? "" : rest.substr(bar + 1);
  }
#endif
  return options;
}

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const session::Error& error) {
    return error.what();
  }
  return "(no error)";
}

TEST(SessionValues, TypedValuesAreCheckedAndClampedForTheParameterTheyAreFor) {
  const auto declared = [](const char* name, session::ParameterType type, std::vector<double> low,
                           std::vector<double> high) {
    session::ParameterInfo p;
    p.name = name;
    p.type = type;
    p.minimum = std::move(low);
    p.maximum = std::move(high);
    return p;
  };
  std::vector<session::ParameterInfo> params = {
      declared("Gain", session::ParameterType::Double, {0}, {4}),
      declared("Size", session::ParameterType::Integer2D, {1, 1}, {64, 64}),
      declared("Tint", session::ParameterType::RGBA, {}, {}), declared("Mode", session::ParameterType::Choice, {0}, {1}),
      declared("Note", session::ParameterType::String, {}, {}), declared("Page", session::ParameterType::Page, {}, {})};
  params[3].options = {"Fill", "Fit"};
  params[4].animates = false;
  std::vector<std::string> warnings;
  const auto resolve = [&](const char* name, const session::Value& value) {
    return session::ResolveSetting(params, name, value, warnings);
  };
  EXPECT_EQ(resolve("Gain", 9).value.numbers, std::vector<double>{4});
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_EQ(warnings[0], "warning: Gain=9 is outside its range 0..4; using 4");
  EXPECT_EQ(resolve("Size", {100, 2}).value.numbers, (std::vector<double>{64, 2}));
  EXPECT_EQ(resolve("Tint", {1, 0.5, 0.25}).value.numbers, (std::vector<double>{1, 0.5, 0.25, 1})) << "opaque";
  EXPECT_EQ(resolve("Mode", "fit").number(), 1) << "the one label that matches in any case";
  EXPECT_EQ(resolve("Note", "a:b").value.text, "a:b");
  const std::vector<std::pair<std::function<void()>, std::string>> faults = {
      {[&] { resolve("Gian", 1.0); }, "unknown parameter 'Gian' (the plug-in has: Gain, Size, Tint, Mode, Note)"},
      {[&] { resolve("Page", 1); }, "parameter 'Page' is a page and holds no value"},
      {[&] { resolve("Gain", "half"); }, "parameter 'Gain' is a double: 'half' is not a number"},
      {[&] { resolve("Gain", true); }, "parameter 'Gain' is a double: true is not a number"},
      {[&] { resolve("Gain", std::nan("")); }, "is not a number"},
      {[&] { resolve("Size", {1.5, 2}); }, "parameter 'Size' is a 2D integer: (1.5, 2) is not two whole numbers"},
      {[&] { resolve("Tint", {1, 1}); }, "is an RGBA colour: (1, 1) is not three or four numbers"},
      {[&] { resolve("Mode", "Stretch"); }, "'Stretch' is not an option's number (0 to 1) or label (Fill, Fit)"},
      {[&] { session::ResolveKeys(params, "Note", {{0, "a"}}, warnings); }, "'Note' does not animate"},
  };
  for (const auto& [action, message] : faults) EXPECT_NE(ErrorOf(action).find(message), std::string::npos) << ErrorOf(action);
}

// ---- pictures laid out in memory as callers hold them ----

struct Format {
  SampleType sample;
  const char* depth;
};
constexpr Format kFormats[] = {{SampleType::Byte, kOfxBitDepthByte},
                               {SampleType::Short, kOfxBitDepthShort},
                               {SampleType::Half, kOfxBitDepthHalf},
                               {SampleType::Float, kOfxBitDepthFloat}};

const char* ComponentsOf(int channels) {
  return channels == 1 ? kOfxImageComponentAlpha : channels == 3 ? kOfxImageComponentRGB : kOfxImageComponentRGBA;
}

// `pixels` as the sample type and channels hold them, through the host's
// conversions.
host::Image Converted(const host::Image& pixels, const char* depth, int channels) {
  host::Image converted(pixels.Bounds(), depth, ComponentsOf(channels));
  host::ConvertPixels(pixels, converted);
  return converted;
}

// Even steps of a byte in every channel, so that halving them is exact at
// every depth.
host::Image Steps(const OfxRectI& bounds) {
  host::Image values(bounds);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x)
      for (int c = 0; c < 4; ++c)
        values.SetFloat(x, y, c, static_cast<float>((x * 37 + y * 11 + c * 50) % 128 * 2) / 255.0f);
  return values;
}

constexpr unsigned char kPadding = 0x5A;

// A picture over memory of its own whose rows are `padding` bytes longer
// than the pixels (filled with kPadding) and stored in `order`, stepping
// back through memory when `backwards`.
struct Laid {
  Laid(const host::Image& pixels, SampleType sample, int channels, int padding, RowOrder order,
       bool backwards = false) {
    const OfxRectI& b = pixels.Bounds();
    picture.width = b.x2 - b.x1;
    picture.height = b.y2 - b.y1;
    picture.channels = channels;
    picture.sample = sample;
    picture.rowStride = static_cast<std::ptrdiff_t>(picture.width * pixels.PixelBytes()) + padding;
    picture.rowOrder = order;
    bytes.assign(static_cast<std::size_t>(picture.rowStride) * picture.height, kPadding);
    picture.data = bytes.data();
    if (backwards) {
      picture.data = bytes.data() + picture.rowStride * (picture.height - 1);
      picture.rowStride = -picture.rowStride;
    }
    for (int row = 0; row < picture.height; ++row)
      std::memcpy(picture.Row(row), pixels.PixelAddress(b.x1, b.y2 - 1 - row), picture.width * pixels.PixelBytes());
  }
  // The same pixels as `expected`, and the padding untouched.
  bool Holds(const host::Image& expected) const {
    const std::size_t used = picture.width * expected.PixelBytes();
    for (int row = 0; row < picture.height; ++row) {
      const unsigned char* at = picture.Row(row);
      if (std::memcmp(at, expected.PixelAddress(0, picture.height - 1 - row), used) != 0) return false;
      for (std::size_t i = used; i < static_cast<std::size_t>(std::abs(picture.rowStride)); ++i)
        if (at[i] != kPadding) return false;
    }
    return true;
  }

  std::vector<unsigned char> bytes;
  Picture picture;
};

struct Layout {
  int padding;
  RowOrder order;
  bool backwards;
};
constexpr Layout kLayouts[] = {{0, RowOrder::TopFirst, false}, {13, RowOrder::BottomFirst, false},
                               {6, RowOrder::TopFirst, true}};

// Renders `source` laid out each way through `instance` and checks the
// output against `expected`.
void ExpectRendersAs(session::Instance& instance, const host::Image& source, const host::Image& expected,
                     const Format& format, int channels) {
  for (const Layout& layout : kLayouts) {
    Laid in(source, format.sample, channels, layout.padding, layout.order, layout.backwards);
    Laid out(host::Image(source.Bounds(), format.depth, ComponentsOf(channels)), format.sample, channels,
             layout.padding, layout.order, layout.backwards);
    instance.Render(in.picture, out.picture, 0.0);
    const std::string what = std::string(format.depth) + ", " + std::to_string(channels) + " channels, padding " +
                             std::to_string(layout.padding) +
                             (layout.backwards ? " backwards" : "");
    EXPECT_TRUE(out.Holds(expected)) << what;
    EXPECT_TRUE(in.Holds(source)) << what << ": the source changed";
  }
}

host::Image Scaled(const host::Image& values, float gain) {
  host::Image scaled(values.Bounds());
  const OfxRectI& b = values.Bounds();
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x)
      for (int c = 0; c < 4; ++c) scaled.SetFloat(x, y, c, values.GetFloat(x, y, c) * gain);
  return scaled;
}

TEST(SessionRender, AFilterOnTheSupportLibraryRendersEveryLayoutAsItsReference) {
#ifndef LENSTROVE_SUPPORT_PLUGIN_DIR
  GTEST_SKIP() << "no OpenFX support library";
#else
  session::Plugin gain("org.lenstrove.sdk.Gain", Options(LENSTROVE_SUPPORT_PLUGIN_DIR));
  EXPECT_EQ(gain.Description().summary.label, "SDK Gain");
  session::Instance instance = gain.NewInstance();
  EXPECT_TRUE(instance.Set("Gain", 0.5).empty());
  // It takes every depth and components, so each is handed over as it is.
  const host::Image values = Steps({0, 0, 13, 7});
  const host::Image halved = Scaled(values, 0.5f);
  for (const Format& format : kFormats)
    for (int channels : {1, 3, 4})
      ExpectRendersAs(instance, Converted(values, format.depth, channels), Converted(halved, format.depth, channels),
                      format, channels);
#endif
}

// The module takes RGBA bytes and floats: other pictures are converted for
// it and back, as the host library's own conversions do.
TEST(SessionRender, TheModuleRendersEveryLayoutAsTheHostLibraryDoes) {
  const OfxRectI bounds{0, 0, 48, 27};
  const host::Image values = Converted(NoiseByteImage(bounds), kOfxBitDepthFloat, 4);
  std::vector<host::Image> expected;
  {
    // Straight through the host library, before the session loads the module.
    PluginHarness harness;
    harness.Instance().SetProject({48, 27, 0, 0});
    harness.SetSwitch("GuideThirds", true);
    for (const Format& format : kFormats)
      for (int channels : {1, 3, 4}) {
        const char* taken = format.sample == SampleType::Byte ? kOfxBitDepthByte : kOfxBitDepthFloat;
        host::Image in = Converted(Converted(values, format.depth, channels), taken, 4), out(bounds, taken);
        ASSERT_EQ(harness.Render(in, out), kOfxStatOK);
        expected.push_back(Converted(out, format.depth, channels));
      }
  }
  ASSERT_NE(PixelBytes(expected.back()), PixelBytes(Converted(values, kOfxBitDepthFloat, 4))) << "no guides drawn";
  session::Plugin module(kBundlePath, Options());
  session::Instance instance = module.NewInstance();
  instance.Set("GuideThirds", true);
  std::size_t next = 0;
  for (const Format& format : kFormats)
    for (int channels : {1, 3, 4})
      ExpectRendersAs(instance, Converted(values, format.depth, channels), expected[next++], format, channels);
}

// One plug-in used from several threads at once, an instance each, as a
// script's threads would use it; one thread opens it again for itself.
TEST(SessionThreads, InstancesRenderSideBySideAsOneRendersAlone) {
  const Format bytes = kFormats[0];
  const host::Image source = NoiseByteImage({0, 0, 64, 36});
  session::Plugin module(kBundlePath, Options());
  const auto render = [&](const session::Plugin& plugin) {
    session::Instance instance = plugin.NewInstance();
    instance.Set("GuideThirds", true);
    Laid in(source, bytes.sample, 4, 0, RowOrder::TopFirst), out(host::Image({0, 0, 64, 36}, bytes.depth), bytes.sample,
                                                                 4, 0, RowOrder::TopFirst);
    instance.Render(in.picture, out.picture, 0.0, session::SplitIntoWindows(64, 36, 3));
    return out.bytes;
  };
  const std::vector<unsigned char> alone = render(module);
  std::vector<std::vector<unsigned char>> results(4);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < results.size(); ++i)
    threads.emplace_back([&, i] { results[i] = i == 0 ? render(session::Plugin(kBundlePath, Options())) : render(module); });
  for (std::thread& thread : threads) thread.join();
  for (const std::vector<unsigned char>& result : results) EXPECT_EQ(result, alone);
}

TEST(SessionErrors, CarryThePluginsOwnMessage) {
#ifndef LENSTROVE_SUPPORT_PLUGIN_DIR
  GTEST_SKIP() << "no OpenFX support library";
#else
  EXPECT_NE(ErrorOf([] { session::Plugin("org.nobody.Nothing", Options(LENSTROVE_SUPPORT_PLUGIN_DIR)); })
                .find("unknown plug-in 'org.nobody.Nothing': none with that identifier in " LENSTROVE_SUPPORT_PLUGIN_DIR),
            std::string::npos);
  session::Plugin messages(std::string(LENSTROVE_SUPPORT_PLUGIN_DIR) + "/SdkMessages.ofx.bundle", Options());
  session::Instance instance = messages.NewInstance();
  EXPECT_NE(ErrorOf([&] { instance.Set("Fial", true); }).find("unknown parameter 'Fial' (the plug-in has: Warn, Ask"),
            std::string::npos);
  instance.Set("Warn", false);
  instance.Set("Fail", true);
  const host::Image values = Steps({0, 0, 8, 8});
  Laid in(values, SampleType::Float, 4, 0, RowOrder::TopFirst), out(host::Image({0, 0, 8, 8}), SampleType::Float, 4, 0,
                                                                    RowOrder::TopFirst);
  try {
    instance.Render(in.picture, out.picture, 3.0);
    ADD_FAILURE() << "the render did not fail";
  } catch (const session::Error& error) {
    EXPECT_EQ(error.PluginMessage(), "cannot render frame 3");
    EXPECT_EQ(std::string(error.what()),
              "plug-in 'org.lenstrove.sdk.Messages' answered kOfxStatFailed to OfxImageEffectActionRender: "
              "cannot render frame 3");
  }
#endif
}

}  // namespace
}  // namespace lenstrove::testing
