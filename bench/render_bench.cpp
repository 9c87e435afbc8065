// Render throughput at HD and 4K, byte and float, per effect setting: the
// fast loop (directly and through the module's render action, when the host
// library is built), the per-pixel reference loop, and memcpy of the same
// bytes between the same buffers as the yardstick.
//
// Benchmark names: <path>/<case>/<width>x<height>/<depth>/<picture>, path one
// of fast, module, reference; memcpy/copy/<width>x<height>/<depth> has no
// picture, since what the bytes show does not change a copy.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "bench_cases.h"
#include "describe/parameter_table.h"
#include "render/fast_pixel_loop.h"
#include "render/frame_geometry.h"
#include "render/pixel_format.h"
#include "render/pixel_loop.h"
#include "render/render_settings.h"

#ifdef LENSTROVE_BENCH_MODULE
#include "host.h"
#include "image.h"
#include "ofx/ofxImageEffect.h"
#endif

namespace lenstrove {
namespace {

using bench::Case;
using bench::Cases;
using bench::Picture;
using bench::PictureName;

// A frame's two images. With the host library they are host images, so all
// paths (memcpy included) touch the same memory the module renders.
struct Frame {
  OfxRectI bounds;
  PixelLayout layout;
  int64_t rowBytes;
  unsigned char* source;
  unsigned char* output;
  size_t bytes;
  std::optional<Picture> shown;
#ifdef LENSTROVE_BENCH_MODULE
  std::unique_ptr<host::Image> sourceImage, outputImage;
#else
  std::vector<unsigned char> sourceStore, outputStore;
#endif
};

void DrawPicture(Frame& f, Picture picture) {
  if (f.shown == picture) return;
  bench::DrawPicture(f.source, f.bounds.x2, f.bounds.y2, f.layout, picture);
  f.shown = picture;
}

Frame& GetFrame(int width, int height, PixelLayout layout) {
  static std::map<std::tuple<int, int, PixelLayout>, std::unique_ptr<Frame>> frames;
  auto& slot = frames[{width, height, layout}];
  if (slot) return *slot;
  slot = std::make_unique<Frame>();
  Frame& f = *slot;
  f.bounds = {0, 0, width, height};
  f.layout = layout;
  f.rowBytes = int64_t{width} * BytesPerPixel(layout);
  f.bytes = static_cast<size_t>(f.rowBytes) * height;
#ifdef LENSTROVE_BENCH_MODULE
  const char* depth = layout == PixelLayout::FloatRGBA ? kOfxBitDepthFloat : kOfxBitDepthByte;
  f.sourceImage = std::make_unique<host::Image>(f.bounds, depth);
  f.outputImage = std::make_unique<host::Image>(f.bounds, depth);
  f.source = static_cast<unsigned char*>(f.sourceImage->Data());
  f.output = static_cast<unsigned char*>(f.outputImage->Data());
#else
  f.sourceStore.assign(f.bytes, 0);
  f.outputStore.assign(f.bytes, 0);
  f.source = f.sourceStore.data();
  f.output = f.outputStore.data();
#endif
  DrawPicture(f, Picture::Smooth);
  std::memset(f.output, 0, f.bytes);
  return f;
}

void SetCounters(benchmark::State& state, const Frame& f) {
  const double pixels = static_cast<double>(f.bounds.x2) * f.bounds.y2;
  state.counters["pixels_per_second"] =
      benchmark::Counter(pixels, benchmark::Counter::kIsIterationInvariantRate);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(f.bytes));
}

void Memcpy(benchmark::State& state, int width, int height, PixelLayout layout) {
  Frame& f = GetFrame(width, height, layout);
  for (auto _ : state) {
    std::memcpy(f.output, f.source, f.bytes);
    benchmark::ClobberMemory();
  }
  SetCounters(state, f);
}

template <bool Reference>
void InternalLoop(benchmark::State& state, int width, int height, PixelLayout layout, Picture picture,
                  RenderSettings settings) {
  Frame& f = GetFrame(width, height, layout);
  DrawPicture(f, picture);
  SanitizeRenderSettings(settings);
  const FrameGeometry geometry = bench::WholeFrameGeometry(f.bounds, f.rowBytes, settings);
  const auto job = PlanPixelJob(layout, {f.source, f.rowBytes, f.bounds}, {f.output, f.rowBytes, f.bounds}, f.bounds);
  if (!job) {
    state.SkipWithError("no pixel job");
    return;
  }
  for (auto _ : state) {
    if (Reference)
      RunReferencePixelLoop(*job, geometry, settings);
    else
      RunPixelLoop(*job, geometry, settings);
    benchmark::ClobberMemory();
  }
  SetCounters(state, f);
}

#ifdef LENSTROVE_BENCH_MODULE
// One host and one loaded module for the whole run; an instance per case.
struct ModuleSession {
  host::Host host;
  std::unique_ptr<host::Plugin> plugin;
  ModuleSession() {
    host.Log().SetEnabled(false);
    plugin = host.Open(LENSTROVE_BENCH_MODULE);
  }
  ~ModuleSession() {
    if (plugin) plugin->Shutdown();
  }
};

ModuleSession& Session() {
  static ModuleSession session;
  return session;
}

void SetParams(host::Effect& effect, const RenderSettings& s) {
  host::ParamSet& params = effect.Params();
  const std::pair<const char*, int32_t> switches[] = {
      {param::kShowSkinTonePatches, s.ShowSkinTonePatches}, {param::kShowSkinToneLine, s.ShowSkinToneLine},
      {param::kShowMiddleGray, s.ShowMiddleGray},           {param::kLegalizeLevels, s.LegalizeLevels},
      {param::kFalseColorMode, s.FalseColorMode},           {param::kGuideThirds, s.GuideThirds},
      {param::kGuideGolden, s.GuideGolden},                 {param::kGuideCrosshair, s.GuideCrosshair},
      {param::kCrop185, s.Crop185},                         {param::kCrop235, s.Crop235},
      {param::kCrop239, s.Crop239}};
  for (const auto& [name, value] : switches) params.Get(name).SetInt(value);
  const std::pair<const char*, double> doubles[] = {{param::kCropOpacity, s.CropOpacity},
                                                    {param::kLineThickness, s.LineThickness},
                                                    {param::kSkinLinePos, s.SkinLinePos},
                                                    {param::kGrayLinePos, s.GrayLinePos}};
  for (const auto& [name, value] : doubles) params.Get(name).SetDouble(value);
}

void ModuleRender(benchmark::State& state, int width, int height, PixelLayout layout, Picture picture,
                  RenderSettings settings) {
  Frame& f = GetFrame(width, height, layout);
  DrawPicture(f, picture);
  ModuleSession& session = Session();
  host::Effect& effect = session.plugin->Instantiate(kOfxImageEffectContextFilter);
  SetParams(effect, settings);
  effect.GetClip(kOfxImageEffectSimpleSourceClipName).SetImage(f.sourceImage.get());
  effect.GetClip(kOfxImageEffectOutputClipName).SetImage(f.outputImage.get());
  host::RenderRequest request;
  request.window = f.bounds;
  for (auto _ : state) {
    session.plugin->Render(effect, request).Check();
    benchmark::ClobberMemory();
  }
  session.plugin->DestroyInstance(effect);
  SetCounters(state, f);
}
#endif

void RegisterAll() {
  struct Size {
    int width, height;
  };
  const Size sizes[] = {{1920, 1080}, {3840, 2160}};
  const PixelLayout layouts[] = {PixelLayout::ByteRGBA, PixelLayout::FloatRGBA};
  for (const Size& size : sizes)
    for (PixelLayout layout : layouts) {
      const std::string tail = "/" + std::to_string(size.width) + "x" + std::to_string(size.height) +
                               (layout == PixelLayout::FloatRGBA ? "/float" : "/byte");
      benchmark::RegisterBenchmark(("memcpy/copy" + tail).c_str(), Memcpy, size.width, size.height, layout)
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
      // Every case on both pictures; the slow reference loop on the smooth
      // one only, as the scale of what the fast loop saves.
      for (Picture picture : {Picture::Smooth, Picture::Noisy})
        for (const Case& c : Cases()) {
          const std::string name = std::string(c.name) + tail + "/" + PictureName(picture);
          benchmark::RegisterBenchmark(("fast/" + name).c_str(), InternalLoop<false>, size.width, size.height,
                                       layout, picture, c.settings)
              ->Unit(benchmark::kMillisecond)
              ->UseRealTime();
#ifdef LENSTROVE_BENCH_MODULE
          benchmark::RegisterBenchmark(("module/" + name).c_str(), ModuleRender, size.width, size.height, layout,
                                       picture, c.settings)
              ->Unit(benchmark::kMillisecond)
              ->UseRealTime();
#endif
          if (picture == Picture::Smooth)
            benchmark::RegisterBenchmark(("reference/" + name).c_str(), InternalLoop<true>, size.width,
                                         size.height, layout, picture, c.settings)
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
}

}  // namespace
}  // namespace lenstrove

int main(int argc, char** argv) {
  // bench/run.sh asks which widths to compare: the vector widths this
  // machine has, narrowest first.
  if (argc == 2 && std::strcmp(argv[1], "--lenstrove_widths") == 0) {
    for (lenstrove::VectorWidth width : lenstrove::SupportedVectorWidths())
      if (width != lenstrove::VectorWidth::Scalar) std::printf("%s\n", lenstrove::VectorWidthName(width));
    return 0;
  }
  lenstrove::RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
