// Render throughput at HD and 4K, byte and float, per effect setting: the
// fast loop (directly and through the module's render action, when the host
// library is built), the per-pixel reference loop, and memcpy of the same
// bytes between the same buffers as the yardstick.
//
// Benchmark names: <path>/<case>/<width>x<height>/<depth>, path one of
// memcpy, fast, module, reference.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

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

struct Case {
  const char* name;
  RenderSettings settings;
};

std::vector<Case> Cases() {
  std::vector<Case> cases;
  RenderSettings off;
  cases.push_back({"off", off});
  RenderSettings guides;
  guides.GuideThirds = guides.GuideGolden = guides.GuideCrosshair = 1;
  cases.push_back({"guides", guides});
  RenderSettings bands;
  bands.ShowSkinToneLine = bands.ShowSkinTonePatches = bands.ShowMiddleGray = 1;
  cases.push_back({"bands", bands});
  RenderSettings cropOpaque;
  cropOpaque.Crop239 = 1;
  cropOpaque.CropOpacity = 1.0;
  cases.push_back({"crop239-opacity1", cropOpaque});
  RenderSettings cropHalf = cropOpaque;
  cropHalf.CropOpacity = 0.5;
  cases.push_back({"crop239-opacity0.5", cropHalf});
  RenderSettings falseColor;
  falseColor.FalseColorMode = 1;
  cases.push_back({"false-colour", falseColor});
  RenderSettings legal;
  legal.LegalizeLevels = 1;
  cases.push_back({"legal-levels", legal});
  RenderSettings all;
  all.ShowSkinTonePatches = all.ShowSkinToneLine = all.ShowMiddleGray = 1;
  all.LegalizeLevels = all.FalseColorMode = 1;
  all.GuideThirds = all.GuideGolden = all.GuideCrosshair = 1;
  all.Crop185 = all.Crop235 = all.Crop239 = 1;
  all.CropOpacity = 0.5;
  cases.push_back({"everything", all});
  return cases;
}

// A frame's two images. With the host library they are host images, so all
// paths (memcpy included) touch the same memory the module renders.
struct Frame {
  OfxRectI bounds;
  PixelLayout layout;
  int64_t rowBytes;
  unsigned char* source;
  unsigned char* output;
  size_t bytes;
#ifdef LENSTROVE_BENCH_MODULE
  std::unique_ptr<host::Image> sourceImage, outputImage;
#else
  std::vector<unsigned char> sourceStore, outputStore;
#endif
};

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
  // A smooth picture with some texture; the loops do not branch on pixel
  // values, so its content only needs to be plausible.
  uint32_t noise = 12345;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      noise = noise * 1664525u + 1013904223u;
      const float base[4] = {static_cast<float>(x) / width, static_cast<float>(y) / height,
                             static_cast<float>((noise >> 8) & 0xFF) / 255.0f, 1.0f};
      unsigned char* at = f.source + (int64_t{y} * width + x) * BytesPerPixel(layout);
      if (layout == PixelLayout::FloatRGBA)
        std::memcpy(at, base, sizeof base);
      else
        for (int c = 0; c < 4; ++c) at[c] = static_cast<unsigned char>(base[c] * 255.0f);
    }
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
void InternalLoop(benchmark::State& state, int width, int height, PixelLayout layout, RenderSettings settings) {
  Frame& f = GetFrame(width, height, layout);
  SanitizeRenderSettings(settings);
  const ImagePlane source{f.source, f.rowBytes, f.bounds};
  const ImagePlane output{f.output, f.rowBytes, f.bounds};
  FrameGeometry geometry;
  geometry.Frame = f.bounds;
  geometry.SourceBounds = f.bounds;
  geometry.SourceRowBytes = static_cast<int32_t>(f.rowBytes);
  geometry.OutputBounds = f.bounds;
  geometry.OutputRowBytes = static_cast<int32_t>(f.rowBytes);
  geometry.RenderWindow = f.bounds;
  ComputeDerivedGeometry(settings, geometry);
  const auto job = PlanPixelJob(layout, source, output, f.bounds);
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

void ModuleRender(benchmark::State& state, int width, int height, PixelLayout layout, RenderSettings settings) {
  Frame& f = GetFrame(width, height, layout);
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
      for (const Case& c : Cases()) {
        benchmark::RegisterBenchmark(("fast/" + std::string(c.name) + tail).c_str(), InternalLoop<false>,
                                     size.width, size.height, layout, c.settings)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#ifdef LENSTROVE_BENCH_MODULE
        benchmark::RegisterBenchmark(("module/" + std::string(c.name) + tail).c_str(), ModuleRender, size.width,
                                     size.height, layout, c.settings)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
#endif
        benchmark::RegisterBenchmark(("reference/" + std::string(c.name) + tail).c_str(), InternalLoop<true>,
                                     size.width, size.height, layout, c.settings)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
      }
    }
}

}  // namespace
}  // namespace lenstrove

int main(int argc, char** argv) {
  lenstrove::RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
