// The host library driving test plug-ins written on the standard's C++
// support library (tests/plugins/support_library): what the real library
// asks of a host, not what a stand-in imitates. Each plug-in opens,
// describes, makes an instance, takes parameters of every type and renders
// in every depth; clip preferences, the multithread suite, temporal access,
// several plug-ins in one binary, messages and progress each get their
// own. The library's own checking build judges the host's properties last.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "convert.h"
#include "host.h"
#include "image.h"
#include "ofx/ofxMessage.h"
#include "param_set.h"
#include "status.h"

namespace lenstrove::testing {
namespace {

std::string Bundle(const std::string& folder, const std::string& name) {
  return folder + "/" + name + ".ofx.bundle";
}

// One plug-in of a test binary on a host of its own, with what it posts.
struct Opened {
  explicit Opened(const std::string& name, int index = 0, const std::string& folder = LENSTROVE_SUPPORT_PLUGIN_DIR) {
    host.Log().SetEnabled(false);
    host.SetMessageHandler([this](const host::Message& m) { posted.push_back(m.type + ": " + m.text); });
    plugin = host.Open(Bundle(folder, name), index);
  }
  ~Opened() {
    try {
      plugin->Shutdown();
    } catch (const std::exception& error) {
      ADD_FAILURE() << error.what();
    }
  }
  host::Effect& Instance(const char* context = kOfxImageEffectContextFilter) { return plugin->Instantiate(context); }

  host::Host host;
  std::unique_ptr<host::Plugin> plugin;
  std::vector<std::string> posted;
};

// A float RGBA picture of distinct values (alpha too), in another depth
// and components through the host's own conversion. The values are even
// steps of a byte, so halving them never meets a tie in rounding.
host::Image Picture(const OfxRectI& bounds, const std::string& depth, const std::string& components = kOfxImageComponentRGBA) {
  host::Image values(bounds);
  for (int y = bounds.y1; y < bounds.y2; ++y)
    for (int x = bounds.x1; x < bounds.x2; ++x)
      for (int c = 0; c < 4; ++c) values.SetFloat(x, y, c, static_cast<float>((x * 37 + y * 11 + c * 50) % 128 * 2) / 255.0f);
  host::Image picture(bounds, depth, components);
  host::ConvertPixels(values, picture);
  return picture;
}

// What `picture` becomes when every channel is multiplied by `gain` in
// float and stored back at its depth.
host::Image Scaled(const host::Image& picture, float gain) {
  host::Image values(picture.Bounds());
  host::ConvertPixels(picture, values);
  const OfxRectI& b = picture.Bounds();
  for (int y = b.y1; y < b.y2; ++y)
    for (int x = b.x1; x < b.x2; ++x)
      for (int c = 0; c < 4; ++c) values.SetFloat(x, y, c, values.GetFloat(x, y, c) * gain);
  host::Image scaled(b, picture.Properties().GetString(kOfxImageEffectPropPixelDepth),
                     picture.Properties().GetString(kOfxImageEffectPropComponents));
  host::ConvertPixels(values, scaled);
  return scaled;
}

bool SamePixels(const host::Image& a, const host::Image& b) {
  const OfxRectI& r = a.Bounds();
  const size_t row = static_cast<size_t>(r.x2 - r.x1) * a.PixelBytes();
  for (int y = r.y1; y < r.y2; ++y)
    if (std::memcmp(a.PixelAddress(r.x1, y), b.PixelAddress(r.x1, y), row) != 0) return false;
  return true;
}

void Connect(host::Effect& instance, host::Image* source, host::Image* output) {
  instance.GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(source);
  instance.GetClip(kOfxImageEffectOutputClipName).SetImage(output);
}

const char* const kDepths[] = {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthHalf, kOfxBitDepthFloat};

TEST(SupportLibraryGain, DescribesEveryParameterTypeWithPagesAndGroupsAndWhereItWasFound) {
  Opened gain("SdkGain");
  const std::string found = gain.plugin->Descriptor().Properties().GetString(kOfxPluginPropFilePath);
  EXPECT_TRUE(std::filesystem::equivalent(found, Bundle(LENSTROVE_SUPPORT_PLUGIN_DIR, "SdkGain"))) << found;
  host::Effect* filter = gain.plugin->ContextDescriptor(kOfxImageEffectContextFilter);
  ASSERT_NE(filter, nullptr);
  host::ParamSet& params = filter->Params();
  EXPECT_EQ(params.Params().size(), 20u);
  EXPECT_EQ(params.Get("Place").Properties().GetInt(kOfxParamPropGroupOpen), 0);
  EXPECT_EQ(params.Get("Centre").Properties().GetString(kOfxParamPropParent), "Place");
  EXPECT_EQ(params.Get("Tint").Properties().GetDouble(kOfxParamPropDefault, 3), 1.0);
  EXPECT_EQ(params.Get("Cells").Properties().GetInt(kOfxParamPropDefault, 2), 3);
  EXPECT_EQ(params.Get("Note").Properties().GetString(kOfxParamPropDefault), "hello");
  EXPECT_EQ(params.Get("Channels").Properties().Dimension(kOfxParamPropChoiceOption), 3);
  const host::PropertySet& page = params.Get("Controls").Properties();
  ASSERT_EQ(page.Dimension(kOfxParamPropPageChild), 13);
  EXPECT_EQ(page.GetString(kOfxParamPropPageChild, 12), "Place");
}

TEST(SupportLibraryGain, RendersInEveryDepthItIsHanded) {
  Opened gain("SdkGain");
  host::Effect& instance = gain.Instance();
  instance.Params().Get("Gain").SetDouble(0.5);
  const OfxRectI bounds{-3, 2, 29, 19};
  for (const char* depth : kDepths) {
    host::Image source = Picture(bounds, depth);
    host::Image output(bounds, depth);
    Connect(instance, &source, &output);
    gain.plugin->Render(instance, {0.0, bounds}).Check();
    EXPECT_TRUE(SamePixels(output, Scaled(source, 0.5f))) << depth;
    EXPECT_TRUE(output.GuardsIntact()) << depth;
  }
  EXPECT_EQ(instance.ImagesOutstanding(), 0);
}

// Every type, set through the host as a command or an editing application
// would: constants, keys, strings with separators, spatial kinds.
TEST(SupportLibraryGain, ReadsParametersOfEveryTypeAsTheHostSetsThem) {
  Opened gain("SdkGain");
  host::Effect& instance = gain.Instance();
  instance.SetProject({640, 480, 0, 0});
  host::ParamSet& params = instance.Params();
  using Value = host::ParamValue;
  params.Get("Report").SetInt(1);
  params.Get("Gain").SetDouble(0.5);
  params.Get("Invert").SetValueAt(0, Value{{0}, ""});
  params.Get("Invert").SetValueAt(4, Value{{1}, ""});
  params.Get("Channels").SetInt(1);
  params.Get("Count").SetValueAt(0, Value{{2}, ""});
  params.Get("Count").SetValueAt(10, Value{{7}, ""});
  params.Get("Size").SetValue(Value{{320, 200}, ""});
  params.Get("Cells").SetValue(Value{{4, 5, 6}, ""});
  params.Get("Scale").SetValueAt(0, Value{{1, 1, 1}, ""});
  params.Get("Scale").SetValueAt(10, Value{{3, 5, 7}, ""});
  host::Param& corner = params.Get("Corner");
  corner.SetValue(corner.FromCanonical(Value{{160, 360}, ""}, instance.Project()));
  params.Get("Offset").SetValue(Value{{2, 3}, ""});
  params.Get("Tint").SetValue(Value{{0.5, 0.25, 1, 1}, ""});
  params.Get("Lift").SetValue(Value{{0.125, 0.25, 0.375}, ""});
  params.Get("Note").SetValueAt(0, Value{{}, "first"});
  params.Get("Note").SetValueAt(4, Value{{}, "a:b,c=d"});
  params.Get("Curve").SetString("1 2 3");
  host::Image source = Picture({0, 0, 4, 4}, kOfxBitDepthFloat), output({0, 0, 4, 4});
  Connect(instance, &source, &output);
  gain.plugin->Render(instance, {5.0, {0, 0, 4, 4}}).Check();
  ASSERT_EQ(gain.posted.size(), 1u);
  // Count 4.5 rounds to 5; Centre and Radius were given as fractions of
  // the project, Corner is read as fractions.
  EXPECT_EQ(gain.posted[0],
            std::string(kOfxMessageLog) +
                ": t=5 Gain=0.5 Invert=1 Channels=1 Count=5 Size=320,200 Cells=4,5,6 Scale=2,3,4 Centre=320,240 "
                "Corner=0.25,0.75 Offset=2,3 Radius=64 Tint=0.5,0.25,1,1 Lift=0.125,0.25,0.375 Note=[a:b,c=d] "
                "Curve=[1 2 3]");
}

TEST(SupportLibraryPreferences, AskedFormatsReachTheHostAndOthersFailTheRender) {
  Opened preferences("SdkPreferences");
  host::Effect& instance = preferences.Instance();
  instance.Params().Get("Depth").SetInt(2);
  instance.Params().Get("Components").SetInt(3);
  instance.Params().Get("Premultiplication").SetInt(2);
  host::ClipPreferences asked;
  preferences.plugin->GetClipPreferences(instance, &asked).Check();
  ASSERT_NE(asked.Find("Source"), nullptr);
  EXPECT_EQ(asked.Find("Source")->depth, kOfxBitDepthShort);
  EXPECT_EQ(asked.Find("Output")->components, kOfxImageComponentAlpha);
  EXPECT_EQ(asked.output_premultiplication, kOfxImageUnPreMultiplied);

  host::Image source = Picture({0, 0, 8, 8}, kOfxBitDepthShort, kOfxImageComponentAlpha);
  host::Image output({0, 0, 8, 8}, kOfxBitDepthShort, kOfxImageComponentAlpha);
  for (host::Image* image : {&source, &output})
    image->Properties().Set(kOfxImageEffectPropPreMultiplication, 0, kOfxImageUnPreMultiplied);
  Connect(instance, &source, &output);
  preferences.plugin->Render(instance, {0.0, {0, 0, 8, 8}}).Check();
  EXPECT_TRUE(SamePixels(output, source));
  host::Image floats = Picture({0, 0, 8, 8}, kOfxBitDepthFloat), floatOutput({0, 0, 8, 8});
  Connect(instance, &floats, &floatOutput);
  const host::ActionResult refused = preferences.plugin->Render(instance, {0.0, {0, 0, 8, 8}});
  EXPECT_FALSE(refused.Succeeded());
  EXPECT_EQ(refused.message, "the source image has another depth");
}

// The library splits each window into bands on the host's pool; the
// plug-in fails any render whose bands did not each run once on their own
// spawned thread, or whose pixel count under the host's mutex is off.
TEST(SupportLibraryThreaded, BandsRunOnThePoolInConcurrentTiles) {
  Opened threaded("SdkThreaded");
  host::Effect& instance = threaded.Instance();
  instance.Params().Get("Gain").SetDouble(0.5);
  const OfxRectI bounds{0, 0, 96, 64};
  for (int bands : {1, 3, 16}) {
    instance.Params().Get("Threads").SetInt(bands);
    host::Image source = Picture(bounds, kOfxBitDepthHalf), output(bounds, kOfxBitDepthHalf);
    Connect(instance, &source, &output);
    const std::vector<OfxRectI> tiles = {{0, 0, 96, 16}, {0, 16, 96, 32}, {0, 32, 96, 48}, {0, 48, 96, 64}};
    threaded.plugin->RenderWindows(instance, {0.0, bounds}, tiles, true).Check();
    EXPECT_TRUE(SamePixels(output, Scaled(source, 0.5f))) << bands;
  }
  EXPECT_EQ(threaded.posted, std::vector<std::string>{});
}

TEST(SupportLibraryTemporal, FetchesTheFrameItAsksForAndFailsWithoutIt) {
  Opened temporal("SdkTemporal");
  host::Effect& instance = temporal.Instance();
  std::vector<std::pair<std::string, OfxRangeD>> needed;
  temporal.plugin->GetFramesNeeded(instance, 5, &needed).Check();
  ASSERT_EQ(needed.size(), 1u);
  EXPECT_EQ(needed[0].second.min, 4);
  EXPECT_EQ(needed[0].second.max, 4);
  host::Image four = Picture({0, 0, 6, 6}, kOfxBitDepthFloat), five({0, 0, 6, 6}), output({0, 0, 6, 6});
  instance.GetClip("Source").SetImageSource([&](OfxTime t) { return t == 4 ? &four : t == 5 ? &five : nullptr; });
  instance.GetClip("Output").SetImage(&output);
  temporal.plugin->Render(instance, {5.0, {0, 0, 6, 6}}).Check();
  EXPECT_TRUE(SamePixels(output, four));
  EXPECT_EQ(instance.ImagesOutstanding(), 0);
  const host::ActionResult missing = temporal.plugin->Render(instance, {4.0, {0, 0, 6, 6}});
  EXPECT_FALSE(missing.Succeeded());
  EXPECT_EQ(missing.message, "no source frame at time 3");
}

TEST(SupportLibrarySeveral, EachPluginOfOneBinaryOpensInItsOwnContext) {
  const struct {
    const char* identifier;
    unsigned major, minor;
    const char* context;
  } expected[] = {{"org.lenstrove.sdk.Invert", 1, 2, kOfxImageEffectContextFilter},
                  {"org.lenstrove.sdk.Darken", 2, 0, kOfxImageEffectContextGeneral},
                  {"org.lenstrove.sdk.Pattern", 1, 0, kOfxImageEffectContextGenerator}};
  for (int index = 0; index < 3; ++index) {
    Opened opened("SdkSeveral", index);
    EXPECT_EQ(opened.plugin->Identifier(), expected[index].identifier);
    EXPECT_EQ(opened.plugin->Record().pluginVersionMajor, expected[index].major);
    EXPECT_EQ(opened.plugin->Record().pluginVersionMinor, expected[index].minor);
    EXPECT_EQ(opened.plugin->SupportedContexts(), std::vector<std::string>{expected[index].context});
  }
  // The general one renders with its optional matte left unconnected.
  Opened darken("SdkSeveral", 1);
  host::Effect& instance = darken.Instance(kOfxImageEffectContextGeneral);
  EXPECT_EQ(instance.GetClip("Matte").Properties().GetInt(kOfxImageClipPropOptional), 1);
  host::Image source = Picture({0, 0, 5, 5}, kOfxBitDepthFloat), output({0, 0, 5, 5});
  Connect(instance, &source, &output);
  darken.plugin->Render(instance, {0.0, {0, 0, 5, 5}}).Check();
  EXPECT_EQ(output.GetFloat(2, 3, 1), source.GetFloat(2, 3, 1) * 0.5f);
  EXPECT_EQ(output.GetFloat(2, 3, 3), source.GetFloat(2, 3, 3));
}

TEST(SupportLibraryMessages, MessagesQuestionsAndProgressReachTheHost) {
  Opened messages("SdkMessages");
  host::Effect& instance = messages.Instance();
  std::vector<double> progress;
  instance.SetProgressListener([&](double fraction) { progress.push_back(fraction); });
  instance.Params().Get("Ask").SetInt(1);
  host::Image source = Picture({0, 0, 4, 8}, kOfxBitDepthFloat), output({0, 0, 4, 8});
  Connect(instance, &source, &output);
  messages.plugin->Render(instance, {3.0, {0, 0, 4, 8}}).Check();
  EXPECT_TRUE(SamePixels(output, source));
  EXPECT_EQ(messages.posted, (std::vector<std::string>{std::string(kOfxMessageWarning) + ": frame 3 looks dark",
                                                        std::string(kOfxMessageQuestion) + ": render frame 3?",
                                                        std::string(kOfxMessageLog) + ": the answer was no",
                                                        std::string(kOfxMessageMessage) + ": rendering frame 3"}));
  EXPECT_EQ(progress, (std::vector<double>{0, 0.25, 0.5, 0.75, 1, 1}));

  messages.posted.clear();
  instance.Params().Get("Stop").SetInt(1);
  instance.RequestAbort(true);
  messages.plugin->Render(instance, {3.0, {0, 0, 4, 8}}).Check();
  EXPECT_EQ(messages.posted.back(), std::string(kOfxMessageLog) + ": stopped after step 1");
  instance.RequestAbort(false);
  instance.Params().Get("Fail").SetInt(1);
  const host::ActionResult failed = messages.plugin->Render(instance, {7.0, {0, 0, 4, 8}});
  EXPECT_EQ(failed.status, kOfxStatFailed);
  EXPECT_EQ(failed.message, "cannot render frame 7");
}

void SetEnvironment(const char* name, const std::string& value) {
#if defined(_WIN32)
  _putenv_s(name, value.c_str());
#else
  setenv(name, value.c_str(), 1);
#endif
}

// The library's checking build looks at every property set the host hands
// it (host, descriptors, instances, clips, parameters, images, action
// arguments) and logs what is missing or unlike its own list. Where its
// list and this host knowingly differ, the line is named here with why.
TEST(SupportLibraryChecked, TheLibrarysOwnCheckFindsNothingMissing) {
  // A name of its own: on Windows the library keeps its log open while
  // the process lives, so it cannot be removed afterwards.
  const std::filesystem::path log =
      std::filesystem::temp_directory_path() /
      ("lenstrove-sdk-check-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()) + ".txt");
  SetEnvironment("OFX_PLUGIN_LOGFILE", log.string());
  {
    Opened gain("SdkGain", 0, LENSTROVE_CHECKED_PLUGIN_DIR);
    host::Effect& instance = gain.Instance();
    host::Image source = Picture({0, 0, 8, 8}, kOfxBitDepthByte), output({0, 0, 8, 8}, kOfxBitDepthByte);
    Connect(instance, &source, &output);
    gain.plugin->Render(instance, {0.0, {0, 0, 8, 8}}).Check();
  }
  const char* const known[] = {
      // Its list gives this default as integers where it reads doubles.
      "Default value of OfxParamPropInteractMinimumSize",
      // Its list says strings, booleans, choices and custom values do not
      // animate; its own host-dependent entry, and this host, say they do.
      "Default value of OfxParamPropAnimates[0] = 1, it should be 0",
      // The standard documents instance safe as the default.
      "Default value of OfxImageEffectPluginRenderThreadSafety",
      // Checked after the library set it itself.
      "Default value of OfxPropInstanceData",
      // Colour limits default to none here rather than its 0..1, so values
      // above 1 (HDR) pass.
      "= -1.79769e+308, it should be 0;", "= 1.79769e+308, it should be 1;"};
  std::ifstream in(log);
  ASSERT_TRUE(in) << "the checking build wrote no log to " << log;
  std::string line, unexpected;
  int lines = 0;
  while (std::getline(in, line)) {
    ++lines;
    bool excused = false;
    for (const char* reason : known) excused = excused || line.find(reason) != std::string::npos;
    if (line.find("ERROR") != std::string::npos && !excused) unexpected += line + "\n";
  }
  EXPECT_GT(lines, 100) << "the log holds the check";
  EXPECT_EQ(unexpected, "");
  in.close();
  std::error_code ignored;
  std::filesystem::remove(log, ignored);
}

}  // namespace
}  // namespace lenstrove::testing
