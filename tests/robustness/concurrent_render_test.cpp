// Many instances of the plug-in rendering at once, as hosts do under the
// default instance-safe threading: one render per instance at a time, any
// number of instances at the same time. Every concurrent result must equal
// the one rendered alone. Built with ThreadSanitizer (scripts/tsan.sh) the
// same runs also prove there is no data race in the module or the host.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "support/plugin_harness.h"

namespace lenstrove::testing {
namespace {

constexpr int kInstances = 6;
constexpr int kFrames = 36;
constexpr OfxRectI kFrameBounds{-7, 3, 90, 61};

// Every instance gets the same settings, with animated numbers, so each
// frame looks different and any instance may render any frame.
void Configure(host::Effect& instance) {
  host::ParamSet& params = instance.Params();
  for (const char* name : {"ShowSkinToneLine", "ShowSkinTonePatches", "ShowMiddleGray", "GuideThirds",
                           "GuideGolden", "GuideCrosshair", "Crop235", "LegalizeLevels"})
    params.Get(name).SetInt(1);
  params.Get("LineThickness").SetDoubleAt(0.0, 2.0);
  params.Get("LineThickness").SetDoubleAt(kFrames, 28.0);
  params.Get("SkinLinePos").SetDoubleAt(0.0, 0.1);
  params.Get("SkinLinePos").SetDoubleAt(kFrames, 0.9);
  params.Get("CropOpacity").SetDoubleAt(0.0, 0.0);
  params.Get("CropOpacity").SetDoubleAt(kFrames, 1.0);
}

// Byte frames on even numbers, float frames on odd ones, so both pixel
// layouts run side by side.
host::Image SourceFor(int frame) {
  if (frame % 2 == 0) return NoiseByteImage(kFrameBounds, 1000 + frame);
  return FloatImage(kFrameBounds, [frame](int x, int y) {
    return RgbaF{(x + frame) * 0.011f, (y - frame) * 0.017f, ((x * y) % 13) * 0.08f - 0.1f, 1.0f};
  });
}

host::Image OutputFor(int frame) {
  return host::Image(kFrameBounds, frame % 2 == 0 ? kOfxBitDepthByte : kOfxBitDepthFloat);
}

class ConcurrentRender : public ::testing::Test {
 protected:
  void SetUp() override {
    // The log is locked and works across threads, but a long run only needs
    // the pixels.
    host_.Log().SetEnabled(false);
    plugin_ = host_.Open(kBundlePath);
    // Instances are created on one thread, before any render starts.
    for (int i = 0; i < kInstances; ++i) {
      host::Effect& instance = plugin_->Instantiate(kOfxImageEffectContextFilter);
      Configure(instance);
      instances_.push_back(&instance);
    }
  }
  void TearDown() override { plugin_->Shutdown(); }

  // Renders one frame with one instance into a fresh output; returns the
  // output's pixel bytes.
  std::vector<uint8_t> RenderFrame(host::Effect& instance, int frame, const OfxRectI& window) {
    host::Image source = SourceFor(frame);
    host::Image output = OutputFor(frame);
    instance.GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(&source);
    instance.GetClip(kOfxImageEffectOutputClipName).SetImage(&output);
    const OfxStatus status = plugin_->Render(instance, {static_cast<double>(frame), window}).status;
    instance.GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(nullptr);
    instance.GetClip(kOfxImageEffectOutputClipName).SetImage(nullptr);
    EXPECT_EQ(status, kOfxStatOK) << "frame " << frame;
    EXPECT_TRUE(output.GuardsIntact()) << "frame " << frame;
    return PixelBytes(output);
  }

  std::map<int, std::vector<uint8_t>> RenderAloneInOrder() {
    std::map<int, std::vector<uint8_t>> frames;
    for (int frame = 0; frame < kFrames; ++frame) frames[frame] = RenderFrame(*instances_[0], frame, kFrameBounds);
    return frames;
  }

  host::Host host_;
  std::unique_ptr<host::Plugin> plugin_;
  std::vector<host::Effect*> instances_;
};

TEST_F(ConcurrentRender, InstancesRenderingDifferentFramesAtOnceMatchRendersAlone) {
  const std::map<int, std::vector<uint8_t>> expected = RenderAloneInOrder();
  // Some overlay must show, or equal outputs would prove nothing.
  ASSERT_NE(expected.at(0), PixelBytes(SourceFor(0)));

  // Each thread owns one instance and takes the next frame from a shared
  // counter, so which instance renders which frame changes from run to run.
  std::atomic<int> next{0};
  std::vector<std::vector<uint8_t>> results(kFrames);
  std::vector<std::thread> threads;
  for (int t = 0; t < kInstances; ++t) {
    threads.emplace_back([&, t] {
      for (int frame = next++; frame < kFrames; frame = next++)
        results[frame] = RenderFrame(*instances_[t], frame, kFrameBounds);
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int frame = 0; frame < kFrames; ++frame) EXPECT_EQ(results[frame], expected.at(frame)) << "frame " << frame;
  for (host::Effect* instance : instances_) EXPECT_EQ(instance->ImagesOutstanding(), 0);
}

TEST_F(ConcurrentRender, TilesOfOneFrameRenderedByDifferentInstancesAtOnceMatchTheWholeFrame) {
  // Hosts also split one frame into windows and hand them to different
  // instances writing into one output image at the same time: each render
  // must touch its own window only.
  const int frame = 5;
  const std::vector<uint8_t> whole = RenderFrame(*instances_[0], frame, kFrameBounds);

  host::Image source = SourceFor(frame);
  host::Image output = OutputFor(frame);
  const int width = kFrameBounds.x2 - kFrameBounds.x1;
  std::vector<std::thread> threads;
  std::vector<OfxStatus> statuses(kInstances, kOfxStatFailed);
  for (int t = 0; t < kInstances; ++t) {
    const OfxRectI window{kFrameBounds.x1 + width * t / kInstances, kFrameBounds.y1,
                          kFrameBounds.x1 + width * (t + 1) / kInstances, kFrameBounds.y2};
    host::Effect& instance = *instances_[t];
    instance.GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(&source);
    instance.GetClip(kOfxImageEffectOutputClipName).SetImage(&output);
    threads.emplace_back(
        [&, t, window] { statuses[t] = plugin_->Render(*instances_[t], {static_cast<double>(frame), window}).status; });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kInstances; ++t) EXPECT_EQ(statuses[t], kOfxStatOK) << "tile " << t;
  EXPECT_EQ(PixelBytes(output), whole);
  EXPECT_TRUE(output.GuardsIntact());
}

TEST_F(ConcurrentRender, OneInstanceReusedAfterOthersRanStillMatches) {
  // Rendering on many threads leaves nothing behind in the module: the
  // same frames rendered alone afterwards come out as before.
  const std::map<int, std::vector<uint8_t>> before = RenderAloneInOrder();
  std::vector<std::thread> threads;
  for (int t = 0; t < kInstances; ++t)
    threads.emplace_back([&, t] {
      for (int frame = t; frame < kFrames; frame += kInstances) RenderFrame(*instances_[t], frame, kFrameBounds);
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(RenderAloneInOrder(), before);
}

}  // namespace
}  // namespace lenstrove::testing
