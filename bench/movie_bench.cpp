// Movie throughput: 1080p ProRes HQ in, the guides drawn, ProRes HQ out,
// through the command's own streaming render, against a plain transcode of
// the same clip (decode, encode, no render) through the same libraries in
// the same run. Counters report frames per second; bench/movie.sh prints
// the ratio of the two times.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "movie/movie_reader.h"
#include "movie/movie_render.h"
#include "movie/movie_writer.h"
#include "movie/picture_converter.h"
#include "plugin_session.h"

namespace lenstrove::cli::movie {
namespace {

constexpr int kFrames = 48;
const std::string kFolder = std::filesystem::temp_directory_path().string();
const std::string kClip = kFolder + "/lenstrove-bench-1080p-prores-hq.mov";
const std::string kOut = kFolder + "/lenstrove-bench-out.mov";

// A moving gradient with detail, so the encoder has real work to do.
void MakeClip() {
  if (std::filesystem::exists(kClip)) return;
  PictureProperties p;
  p.width = 1920;
  p.height = 1080;
  p.frameRate = {24, 1};
  p.timeBase = {1, 24};
  p.sampleAspect = {1, 1};
  p.pixelFormat = AV_PIX_FMT_YUV422P10;
  p.primaries = AVCOL_PRI_BT709;
  p.transfer = AVCOL_TRC_BT709;
  p.matrix = AVCOL_SPC_BT709;
  p.range = AVCOL_RANGE_MPEG;
  MovieWriter writer(kClip, p, PixelDepth::Byte, false, {"prores_hq", {}, {}}, nullptr, AV_CODEC_ID_NONE, -1);
  PictureConverter converter;
  RgbaImage image(p.width, p.height, PixelDepth::Byte);
  for (int f = 0; f < kFrames; ++f) {
    for (int y = 0; y < p.height; ++y)
      for (int x = 0; x < p.width; ++x) {
        unsigned char* px = image.fileRow(y) + 4 * x;
        px[0] = static_cast<unsigned char>(x / 8 + f * 3);
        px[1] = static_cast<unsigned char>(y / 4 + ((x ^ y) & 15));
        px[2] = static_cast<unsigned char>((x * y + f * 977) >> 9);
        px[3] = 255;
      }
    FramePtr frame = converter.fromRgba(image, writer.pixelFormat(), writer.tags());
    writer.writeFrame(*frame, f);
  }
  writer.finish();
}

void Transcode(benchmark::State& state) {
  MakeClip();
  for (auto _ : state) {
    MovieReader reader(kClip);
    MovieWriter writer(kOut, reader.properties(), PixelDepth::Float, false, {"prores_hq", {}, {}}, nullptr,
                       reader.codec(), reader.profile());
    while (FramePtr frame = reader.nextFrame()) writer.writeFrame(*frame, frame->best_effort_timestamp);
    writer.finish();
  }
  state.counters["fps"] = benchmark::Counter(kFrames * static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}

void GuidesRender(benchmark::State& state) {
  MakeClip();
  std::unique_ptr<LoadedPlugin> plugin = OpenPlugin(LENSTROVE_BENCH_BUNDLE);
  RenderCommand command;
  command.input = kClip;
  command.output = kOut;
  command.quiet = true;
  command.jobs = static_cast<int>(std::thread::hardware_concurrency());
  command.movie.codec = "prores_hq";
  std::vector<ResolvedSetting> settings;
  for (const char* name : {"GuideThirds", "GuideCrosshair", "Crop239"})
    settings.push_back({name, ParameterType::Boolean, 1.0, {}});
  for (auto _ : state) RunMovieRender(*plugin, command, settings, nullptr);
  state.counters["fps"] = benchmark::Counter(kFrames * static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
}

BENCHMARK(Transcode)->Name("movie/transcode/1080p-prores-hq")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(GuidesRender)->Name("movie/guides/1080p-prores-hq")->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace lenstrove::cli::movie

BENCHMARK_MAIN();
