// The suites beyond properties, image effects and parameters, and the
// actions around a render, driven as plug-ins built on the standard's C++
// support library drive them: through the test plug-in that uses them all
// and through the suite tables themselves.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "convert.h"
#include "host.h"
#include "image.h"
#include "ofx/ofxMemory.h"
#include "ofx/ofxMessage.h"
#include "ofx/ofxMultiThread.h"
#include "ofx/ofxParam.h"
#include "ofx/ofxProgress.h"
#include "ofx/ofxTimeLine.h"
#include "param_set.h"
#include "status.h"

namespace lenstrove::testing {
namespace {

template <class Suite>
const Suite* Fetch(host::Host& host, const char* name, int version = 1) {
  return static_cast<const Suite*>(host.FetchSuite(name, version));
}

TEST(HostServices, ASupportLibraryPluginRefusesToLoadWithoutTheSuitesItRequires) {
  for (const char* suite : {kOfxMemorySuite, kOfxMultiThreadSuite, kOfxMessageSuite}) {
    host::Host host;
    host.Faults().missing_suites = {suite};
    try {
      host.Open(LENSTROVE_SUITE_USER_PLUGIN);
      ADD_FAILURE() << "loaded without " << suite;
    } catch (const host::PluginError& error) {
      EXPECT_EQ(error.action(), kOfxActionLoad) << suite;
      EXPECT_EQ(error.status(), kOfxStatErrMissingHostFeature) << suite;
    }
  }
  host::Host host;
  auto plugin = host.Open(LENSTROVE_SUITE_USER_PLUGIN);
  EXPECT_EQ(host.Log().Count("fetchSuite"), 10u);
  EXPECT_EQ(host.Log().ToString().find("kOfxStatErrMissingHostFeature"), std::string::npos) << host.Log().ToString();
  plugin->Shutdown();
}

// Every call waits for all the others, so the job only finishes if the
// pool really runs them at the same time. The wait has a generous limit
// only so that a broken pool fails instead of hanging.
struct Meeting {
  std::mutex mutex;
  std::condition_variable all_here;
  unsigned arrived = 0;
  std::atomic<int> met{0}, right_index{0}, spawned{0};
  const OfxMultiThreadSuiteV1* threads = nullptr;
};

void Meet(unsigned index, unsigned count, void* argument) {
  Meeting& meeting = *static_cast<Meeting*>(argument);
  unsigned self = 999;
  meeting.threads->multiThreadIndex(&self);
  meeting.right_index += self == index ? 1 : 0;
  meeting.spawned += meeting.threads->multiThreadIsSpawnedThread();
  std::unique_lock lock(meeting.mutex);
  ++meeting.arrived;
  meeting.all_here.notify_all();
  if (meeting.all_here.wait_for(lock, std::chrono::minutes(2), [&] { return meeting.arrived == count; })) {
    ++meeting.met;
  }
}

void Nest(unsigned, unsigned, void* argument) {
  auto* result = static_cast<std::pair<const OfxMultiThreadSuiteV1*, std::atomic<int>>*>(argument);
  result->second = result->first->multiThread(Meet, 2, nullptr);
}

TEST(HostServices, MultiThreadRunsEveryIndexAtOnceOnItsOwnSpawnedThread) {
  host::Host host;
  const auto* threads = Fetch<OfxMultiThreadSuiteV1>(host, kOfxMultiThreadSuite);
  ASSERT_NE(threads, nullptr);
  for (unsigned count : {1u, 7u, 16u}) {
    Meeting meeting;
    meeting.threads = threads;
    ASSERT_EQ(threads->multiThread(Meet, count, &meeting), kOfxStatOK);
    EXPECT_EQ(meeting.met, static_cast<int>(count));
    EXPECT_EQ(meeting.right_index, static_cast<int>(count));
    EXPECT_EQ(meeting.spawned, static_cast<int>(count));
  }
  unsigned index = 5, cpus = 0;
  EXPECT_EQ(threads->multiThreadIndex(&index), kOfxStatOK);
  EXPECT_EQ(index, 0u) << "the caller's own thread";
  EXPECT_EQ(threads->multiThreadIsSpawnedThread(), 0);
  EXPECT_EQ(threads->multiThreadNumCPUs(&cpus), kOfxStatOK);
  EXPECT_GE(cpus, 1u);
  std::pair<const OfxMultiThreadSuiteV1*, std::atomic<int>> nested{threads, -1};
  EXPECT_EQ(threads->multiThread(Nest, 1, &nested), kOfxStatOK);
  EXPECT_EQ(nested.second, kOfxStatErrExists) << "no threads from a spawned thread";
}

TEST(HostServices, MutexesAreRecursiveAndRefuseWhatTheThreadDoesNotHold) {
  host::Host host;
  const auto* threads = Fetch<OfxMultiThreadSuiteV1>(host, kOfxMultiThreadSuite);
  OfxMutexHandle mutex = nullptr;
  ASSERT_EQ(threads->mutexCreate(&mutex, 1), kOfxStatOK);  // created locked once
  EXPECT_EQ(threads->mutexLock(mutex), kOfxStatOK);
  OfxStatus other_try = kOfxStatOK, other_unlock = kOfxStatOK;
  std::thread([&] {
    other_try = threads->mutexTryLock(mutex);
    other_unlock = threads->mutexUnLock(mutex);
  }).join();
  EXPECT_EQ(other_try, kOfxStatFailed);
  EXPECT_EQ(other_unlock, kOfxStatErrValue);
  EXPECT_EQ(threads->mutexUnLock(mutex), kOfxStatOK);
  EXPECT_EQ(threads->mutexUnLock(mutex), kOfxStatOK);
  EXPECT_EQ(threads->mutexUnLock(mutex), kOfxStatErrValue) << "more unlocks than locks";
  std::thread([&] { other_try = threads->mutexTryLock(mutex); threads->mutexUnLock(mutex); }).join();
  EXPECT_EQ(other_try, kOfxStatOK);
  EXPECT_EQ(threads->mutexDestroy(mutex), kOfxStatOK);
  EXPECT_EQ(threads->mutexLock(mutex), kOfxStatErrBadHandle);
  EXPECT_EQ(threads->mutexDestroy(mutex), kOfxStatErrBadHandle);
}

TEST(HostServices, MemoryMessagesTimelineAndProgress) {
  host::Host host;
  const auto* memory = Fetch<OfxMemorySuiteV1>(host, kOfxMemorySuite);
  void* block = nullptr;
  ASSERT_EQ(memory->memoryAlloc(nullptr, 4096, &block), kOfxStatOK);
  std::memset(block, 7, 4096);
  EXPECT_EQ(host.GeneralMemoryBlocks(), 1u);
  EXPECT_EQ(memory->memoryFree(block), kOfxStatOK);
  EXPECT_EQ(memory->memoryFree(block), kOfxStatErrBadHandle);
  EXPECT_EQ(memory->memoryAlloc(nullptr, host::Host::kMaxMemoryBlock + 1, &block), kOfxStatErrMemory);

  std::vector<host::Message> posted;
  host.SetMessageHandler([&](const host::Message& message) { posted.push_back(message); });
  const auto* messages = Fetch<OfxMessageSuiteV2>(host, kOfxMessageSuite, 2);
  int garbage = 0;
  EXPECT_EQ(messages->message(nullptr, kOfxMessageWarning, "id", "%d of %s", 3, "four"), kOfxStatOK);
  EXPECT_EQ(messages->message(nullptr, kOfxMessageQuestion, "", "overwrite?"), kOfxStatReplyNo);
  EXPECT_EQ(messages->setPersistentMessage(&garbage, kOfxMessageError, "", "x"), kOfxStatErrBadHandle);
  ASSERT_EQ(posted.size(), 2u);
  EXPECT_EQ(posted[0].text, "3 of four");
  EXPECT_EQ(posted[0].type, kOfxMessageWarning);

  auto plugin = host.Open(LENSTROVE_SUITE_USER_PLUGIN);
  host::Effect& instance = plugin->Instantiate(kOfxImageEffectContextFilter);
  instance.SetTimeBounds({3, 40});
  const auto* timeline = Fetch<OfxTimeLineSuiteV1>(host, kOfxTimeLineSuite);
  double first = 0, last = 0, now = -1;
  EXPECT_EQ(timeline->getTimeBounds(instance.Handle(), &first, &last), kOfxStatOK);
  EXPECT_EQ(first, 3);
  EXPECT_EQ(last, 40);
  EXPECT_EQ(timeline->gotoTime(instance.Handle(), 12), kOfxStatOK);
  EXPECT_EQ(timeline->getTime(instance.Handle(), &now), kOfxStatOK);
  EXPECT_EQ(now, 12);

  // Progress reaches the listener (the command's progress bar) clamped to 0..1.
  std::vector<double> reported;
  instance.SetProgressListener([&](double fraction) { reported.push_back(fraction); });
  const auto* progress = Fetch<OfxProgressSuiteV2>(host, kOfxProgressSuite, 2);
  EXPECT_EQ(progress->progressStart(instance.Handle(), "Scaling", "scale"), kOfxStatOK);
  EXPECT_EQ(progress->progressUpdate(instance.Handle(), 1.5), kOfxStatOK);
  EXPECT_EQ(progress->progressEnd(instance.Handle()), kOfxStatOK);
  EXPECT_EQ(reported, (std::vector<double>{0, 1, 1}));
  EXPECT_EQ(progress->progressUpdate(&garbage, 0.5), kOfxStatErrBadHandle);
  plugin->Shutdown();
}

TEST(HostActions, PreferencesIdentityAndConcurrentTilesOfAFullySafePlugin) {
  host::Host host;
  auto plugin = host.Open(LENSTROVE_SUITE_USER_PLUGIN);
  host::Effect& instance = plugin->Instantiate(kOfxImageEffectContextFilter);
  EXPECT_EQ(plugin->RenderThreadSafety(), kOfxImageEffectRenderFullySafe);

  host::ClipPreferences preferences;
  plugin->GetClipPreferences(instance, &preferences).Check();
  EXPECT_TRUE(preferences.clips.empty() || preferences.Find("Source")->depth == kOfxBitDepthFloat);
  instance.Params().Get("Depth").SetInt(2);
  instance.Params().Get("Components").SetInt(1);
  plugin->GetClipPreferences(instance, &preferences).Check();
  ASSERT_NE(preferences.Find("Output"), nullptr);
  EXPECT_EQ(preferences.Find("Output")->depth, kOfxBitDepthShort);
  EXPECT_EQ(preferences.Find("Source")->components, kOfxImageComponentRGB);

  std::optional<host::Identity> identity;
  plugin->IsIdentity(instance, {4.0, {0, 0, 8, 8}}, &identity).Check();
  EXPECT_FALSE(identity);
  instance.Params().Get("Identity").SetInt(1);
  plugin->IsIdentity(instance, {4.0, {0, 0, 8, 8}}, &identity).Check();
  ASSERT_TRUE(identity);
  EXPECT_EQ(identity->clip, "Source");
  EXPECT_EQ(identity->time, 4.0);

  // Four tiles at once, each splitting its rows over the pool.
  host::Image source({0, 0, 64, 48}, kOfxBitDepthShort, kOfxImageComponentRGB);
  host::Image output({0, 0, 64, 48}, kOfxBitDepthShort, kOfxImageComponentRGB);
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      uint16_t pixel[3] = {uint16_t(x * 1000), uint16_t(y * 1000), 60000};
      std::memcpy(source.PixelAddress(x, y), pixel, sizeof pixel);
    }
  }
  instance.GetClip("Source").SetImage(&source);
  instance.GetClip("Output").SetImage(&output);
  instance.Params().Get("Gain").SetDouble(0.5);
  host.Log().SetEnabled(false);
  const std::vector<OfxRectI> tiles = {{0, 0, 32, 24}, {32, 0, 64, 24}, {0, 24, 32, 48}, {32, 24, 64, 48}};
  plugin->RenderWindows(instance, {0.0, {0, 0, 64, 48}}, tiles, true).Check();
  uint16_t pixel[3];
  std::memcpy(pixel, output.PixelAddress(63, 47), sizeof pixel);
  EXPECT_EQ(pixel[0], 31500);
  EXPECT_EQ(pixel[1], 23500);
  EXPECT_EQ(pixel[2], 30000);
  EXPECT_TRUE(output.GuardsIntact());
  EXPECT_EQ(instance.ImagesOutstanding(), 0);

  // An error message posted during a render fails it, with the message.
  instance.Params().Get("Complain").SetInt(1);
  host.SetMessageHandler([](const host::Message&) {});
  host::ActionResult complained = plugin->Render(instance, {7.0, {0, 0, 64, 48}});
  EXPECT_EQ(complained.status, kOfxStatFailed);
  EXPECT_EQ(complained.message, "the picture at frame 7 is not good enough");
  plugin->Shutdown();
}

TEST(HostActions, AnUnsafePluginNeverRendersTwiceAtOnceInTheWholeProcess) {
  host::Host host;
  host.Log().SetEnabled(false);
  host.SetMessageHandler([](const host::Message&) {});
  auto plugin = host.Open(LENSTROVE_SUITE_USER_PLUGIN, 1);
  ASSERT_EQ(plugin->RenderThreadSafety(), kOfxImageEffectRenderUnsafe);
  // Two instances on two threads, each asking for parallel tiles; every
  // render fails if another one is running at the same time.
  host::Image source({0, 0, 16, 8}), output_a({0, 0, 16, 8}), output_b({0, 0, 16, 8});
  std::atomic<int> failures{0};
  auto render = [&](host::Image* output) {
    host::Effect& instance = plugin->Instantiate(kOfxImageEffectContextFilter);
    instance.GetClip("Source").SetImage(&source);
    instance.GetClip("Output").SetImage(output);
    for (int frame = 0; frame < 6; ++frame) {
      host::ActionResult result =
          plugin->RenderWindows(instance, {double(frame), {0, 0, 16, 8}}, {{0, 0, 8, 8}, {8, 0, 16, 8}}, true);
      if (!result.Succeeded()) ++failures;
    }
  };
  std::thread first(render, &output_a);
  render(&output_b);
  first.join();
  EXPECT_EQ(failures, 0);
  plugin->Shutdown();
}

// Pixels as float RGBA, one row.
host::Image FloatRow(const std::vector<float>& rgba) {
  host::Image row({0, 0, static_cast<int>(rgba.size() / 4), 1});
  std::memcpy(row.PixelAddress(0, 0), rgba.data(), rgba.size() * sizeof(float));
  return row;
}

TEST(HostConvert, HalfFloatsRoundToTheNearestEvenAndComeBackExactly) {
  const std::vector<float> values = {1.0f, 65504.0f, 1e-7f, 70000.0f, -2.0f, 0.1f,
                                     1.0f + std::ldexp(1.0f, -11), 1.0f + 3 * std::ldexp(1.0f, -11)};
  host::Image floats({0, 0, static_cast<int>(values.size()), 1}, kOfxBitDepthFloat, kOfxImageComponentAlpha);
  std::memcpy(floats.PixelAddress(0, 0), values.data(), values.size() * sizeof(float));
  host::Image halves(floats.Bounds(), kOfxBitDepthHalf, kOfxImageComponentAlpha);
  host::ConvertPixels(floats, halves);
  std::vector<uint16_t> bits(values.size());
  std::memcpy(bits.data(), halves.PixelAddress(0, 0), bits.size() * sizeof(uint16_t));
  // 1e-7 is a subnormal half; 70000 overflows; the last two are ties.
  EXPECT_EQ(bits, (std::vector<uint16_t>{0x3c00, 0x7bff, 0x0002, 0x7c00, 0xc000, 0x2e66, 0x3c00, 0x3c02}));
  host::Image back(floats.Bounds(), kOfxBitDepthFloat, kOfxImageComponentAlpha);
  host::ConvertPixels(halves, back);
  const std::vector<float> expected = {1.0f, 65504.0f, std::ldexp(1.0f, -23), INFINITY, -2.0f, 0.0999755859375f,
                                       1.0f, 1.0f + std::ldexp(1.0f, -9)};
  for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(back.GetFloat(static_cast<int>(i), 0, 0), expected[i]) << i;
}

TEST(HostConvert, PremultiplyingAndBackInEveryDepth) {
  // Colour 0.8 under alpha 0, 1 and one half.
  const host::Image straight = FloatRow({0.8f, 0.8f, 0.8f, 0.0f, 0.8f, 0.8f, 0.8f, 1.0f, 0.8f, 0.8f, 0.8f, 0.5f});
  const std::pair<const char*, float> depths[] = {
      {kOfxBitDepthByte, 1 / 255.0f}, {kOfxBitDepthShort, 1 / 65535.0f}, {kOfxBitDepthHalf, 1 / 1024.0f},
      {kOfxBitDepthFloat, 1e-6f}};
  for (const auto& [depth, step] : depths) {
    host::Image pixels(straight.Bounds(), depth);
    host::ConvertPixels(straight, pixels);
    host::Image seen(straight.Bounds());
    host::ChangeAlpha(pixels, host::AlphaChangeBetween(kOfxImageUnPreMultiplied, kOfxImagePreMultiplied));
    host::ConvertPixels(pixels, seen);
    EXPECT_EQ(seen.GetFloat(0, 0, 0), 0.0f) << depth;
    EXPECT_NEAR(seen.GetFloat(1, 0, 1), 0.8f, step) << depth;
    EXPECT_NEAR(seen.GetFloat(2, 0, 2), 0.4f, 2 * step) << depth;
    EXPECT_NEAR(seen.GetFloat(2, 0, 3), 0.5f, step) << depth << ": alpha stays";
    host::ChangeAlpha(pixels, host::AlphaChangeBetween(kOfxImagePreMultiplied, kOfxImageUnPreMultiplied));
    host::ConvertPixels(pixels, seen);
    EXPECT_EQ(seen.GetFloat(0, 0, 0), 0.0f) << depth << ": nothing to divide by";
    EXPECT_NEAR(seen.GetFloat(1, 0, 1), 0.8f, step) << depth;
    EXPECT_NEAR(seen.GetFloat(2, 0, 2), 0.8f, 3 * step) << depth;
  }
  EXPECT_EQ(host::AlphaChangeBetween(kOfxImageOpaque, kOfxImagePreMultiplied), host::AlphaChange::kNone);
  EXPECT_EQ(host::AlphaChangeBetween(kOfxImagePreMultiplied, kOfxImagePreMultiplied), host::AlphaChange::kNone);
}

TEST(HostParams, EveryTypeTakesKeysThroughTheSuite) {
  host::Host host;
  host::ParamSet definitions(host, true);
  host::Param* defined = nullptr;
  for (const char* type : {kOfxParamTypeRGBA, kOfxParamTypeInteger2D, kOfxParamTypeString, kOfxParamTypeBoolean,
                           kOfxParamTypeDouble3D, kOfxParamTypeCustom}) {
    ASSERT_EQ(definitions.Define(type, type, &defined), kOfxStatOK) << type;
  }
  EXPECT_EQ(definitions.Define("OfxParamTypeParametric", "curve", &defined), kOfxStatErrUnknown);
  host::ParamSet params(host, false);
  params.CopyDefinitions(definitions);
  const auto* suite = Fetch<OfxParameterSuiteV1>(host, kOfxParameterSuite);
  auto handle = [&](const char* name) { return params.Get(name).Handle(); };

  OfxParamHandle rgba = handle(kOfxParamTypeRGBA);
  suite->paramSetValueAtTime(rgba, 0.0, 0.0, 0.2, 1.0, 1.0);
  suite->paramSetValueAtTime(rgba, 10.0, 1.0, 0.4, 0.0, 1.0);
  double r, g, b, a;
  ASSERT_EQ(suite->paramGetValueAtTime(rgba, 2.5, &r, &g, &b, &a), kOfxStatOK);
  EXPECT_DOUBLE_EQ(r, 0.25);
  EXPECT_DOUBLE_EQ(g, 0.25);
  EXPECT_DOUBLE_EQ(b, 0.75);
  EXPECT_DOUBLE_EQ(a, 1.0);
  ASSERT_EQ(suite->paramGetDerivative(rgba, 5.0, &r, &g, &b, &a), kOfxStatOK);
  EXPECT_DOUBLE_EQ(r, 0.1);
  EXPECT_DOUBLE_EQ(b, -0.1);
  unsigned keys = 0;
  suite->paramGetNumKeys(rgba, &keys);
  EXPECT_EQ(keys, 2u);

  OfxParamHandle size = handle(kOfxParamTypeInteger2D);
  suite->paramSetValueAtTime(size, 0.0, 0, 100);
  suite->paramSetValueAtTime(size, 3.0, 1, 200);
  int x, y;
  suite->paramGetValueAtTime(size, 2.0, &x, &y);
  EXPECT_EQ(x, 1) << "integers round between keys";
  EXPECT_EQ(y, 167);

  OfxParamHandle text = handle(kOfxParamTypeString);
  suite->paramSetValueAtTime(text, 1.0, "one");
  suite->paramSetValueAtTime(text, 5.0, "five");
  char* value = nullptr;
  suite->paramGetValueAtTime(text, 4.9, &value);
  EXPECT_STREQ(value, "one") << "strings hold until the next key";
  suite->paramGetValueAtTime(text, 0.0, &value);
  EXPECT_STREQ(value, "one");
  suite->paramGetValueAtTime(text, 5.0, &value);
  EXPECT_STREQ(value, "five");

  OfxParamHandle toggle = handle(kOfxParamTypeBoolean);
  suite->paramSetValueAtTime(toggle, 0.0, 1);
  suite->paramSetValueAtTime(toggle, 10.0, 0);
  int on = 0;
  suite->paramGetValueAtTime(toggle, 9.0, &on);
  EXPECT_EQ(on, 1);

  OfxParamHandle point = handle(kOfxParamTypeDouble3D);
  suite->paramSetValue(point, 1.0, 2.0, 3.0);
  double px, py, pz;
  suite->paramGetIntegral(point, 0.0, 2.0, &px, &py, &pz);
  EXPECT_EQ(pz, 6.0);
  suite->paramSetValue(handle(kOfxParamTypeCustom), "a custom state");
  suite->paramGetValue(handle(kOfxParamTypeCustom), &value);
  EXPECT_STREQ(value, "a custom state");
}

}  // namespace
}  // namespace lenstrove::testing
