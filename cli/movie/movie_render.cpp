#include "movie_render.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>

extern "C" {
#include <libavutil/timecode.h>
}

#include "frame_pipeline.h"
#include "movie_reader.h"
#include "movie_writer.h"
#include "picture_converter.h"
#include "progress.h"
#include "render_job.h"
#include "sequence.h"

namespace lenstrove::cli::movie {
namespace {

// Frames between the reader and the writer per worker: enough to keep
// every worker busy while the writer waits for the oldest frame.
constexpr int kFramesInFlightPerWorker = 2;

// Everything a worker keeps between frames.
struct Worker {
  std::unique_ptr<EffectInstance> instance;
  PictureConverter converter;
};

// The first frame's shape decides the render depth and the output's
// format for the whole run.
struct SourceShape {
  PictureProperties picture;
  PixelDepth natural = PixelDepth::Byte;
  bool alpha = false;
  OIIO::TypeDesc storage = OIIO::TypeDesc::UINT8;  // for image outputs
  bool premultiplied = false;  // OpenEXR inputs; movies keep straight alpha
};

// The frames of an image-sequence (or still) input.
std::vector<long> InputFrameNumbers(const RenderCommand& command, const FramePattern& input) {
  if (command.frames) {
    if (command.frames->last - command.frames->first >= 1'000'000)
      throw std::runtime_error("frame range has more than 1000000 frames");
    std::vector<long> frames;
    for (long f = command.frames->first; f <= command.frames->last; ++f) frames.push_back(f);
    return frames;
  }
  if (!input.isSequence()) throw std::runtime_error("a still input rendered to a movie needs --frames");
  std::vector<long> frames = FramesOnDisk(input);
  if (frames.empty()) throw std::runtime_error("no frames of input sequence '" + command.input + "' found");
  return frames;
}

std::string ShiftedTimecode(const std::string& timecode, AVRational rate, long frames) {
  if (timecode.empty() || frames == 0) return timecode;
  AVTimecode tc;
  if (av_timecode_init_from_string(&tc, rate, timecode.c_str(), nullptr) < 0) return timecode;
  char text[AV_TIMECODE_STR_SIZE];
  return av_timecode_make_string(&tc, text, static_cast<int>(frames));
}

AVRational FrameRateOption(const RenderCommand& command) {
  if (command.movie.fps) return AVRational{command.movie.fps->numerator, command.movie.fps->denominator};
  return AVRational{24, 1};
}

class MovieRender {
 public:
  MovieRender(LoadedPlugin& plugin, const RenderCommand& command, const std::vector<ResolvedSetting>& settings,
              const color::ColourPipeline* colour)
      : plugin_(plugin), command_(command), settings_(settings), colour_(colour) {}

  void run() {
    const bool movieIn = IsMovieName(command_.input);
    if (movieIn) openMovieInput();
    else openImageInput();
    depth_ = ChooseDepth(command_.depth, shape_.natural, plugin_.description());
    const std::string warning = color::SceneLinearWarning(settings_, depth_ == PixelDepth::Float, command_.colour);
    if (!warning.empty()) std::cerr << "lenstrove: " << warning << "\n";
    if (IsMovieName(command_.output)) openMovieOutput();
    else planImageOutput();

    const int workers = plugin_.description().rendersInParallel ? WorkerCount(command_.jobs, 1 << 20) : 1;
    for (int i = 0; i < workers; ++i) {
      workers_.push_back(std::make_unique<Worker>());
      workers_.back()->instance = plugin_.createInstance();
      workers_.back()->instance->applySettings(settings_);
    }
    ProgressBar progress(static_cast<int>(std::max<std::int64_t>(1, total_)), ProgressBar::ShouldDraw(command_.quiet));
    PipelineStages stages;
    stages.next = [&](FrameJob& job) { return movieIn ? nextMovieFrame(job) : nextImageFrame(job); };
    stages.work = [&](FrameJob& job, int worker) { render(job, *workers_[worker]); };
    stages.deliver = [&](FrameJob& job) {
      if (writer_) writer_->writeFrame(*job.encoded, job.pts);
      progress.frameDone();
    };
    RunPipeline(stages, workers, kFramesInFlightPerWorker * workers + 1);
    if (reader_) finishMovieInput();
    if (writer_) writer_->finish();
  }

 private:
  void openMovieInput() {
    reader_ = std::make_unique<MovieReader>(command_.input);
    shape_.picture = reader_->properties();
    shape_.natural = NaturalDepth(shape_.picture.pixelFormat);
    shape_.alpha = HasAlpha(shape_.picture.pixelFormat);
    shape_.storage = shape_.natural == PixelDepth::Byte ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16;
    first_ = command_.frames ? command_.frames->first : 0;
    if (first_ < 0) throw std::runtime_error("movie frames are counted from 0; the range cannot start before it");
    const std::int64_t expected = reader_->expectedFrames();
    last_ = command_.frames ? std::optional<long>(command_.frames->last) : std::nullopt;
    if (last_ && expected > 0 && *last_ >= expected)
      throw std::runtime_error("'" + command_.input + "' has frames 0-" + std::to_string(expected - 1) +
                               "; the range ends past them");
    total_ = last_ ? *last_ - first_ + 1 : expected - first_;
    shape_.picture.timecode = ShiftedTimecode(shape_.picture.timecode, shape_.picture.frameRate, first_);
  }

  void openImageInput() {
    inputPattern_ = ParseFramePattern(command_.input);
    frameNumbers_ = InputFrameNumbers(command_, inputPattern_);
    total_ = static_cast<std::int64_t>(frameNumbers_.size());
    const ImageFileInfo info = ReadImageInfo(FramePath(inputPattern_, frameNumbers_.front()), command_.pixelLimit);
    PictureProperties& p = shape_.picture;
    p.width = info.width;
    p.height = info.height;
    p.frameRate = FrameRateOption(command_);
    p.timeBase = av_inv_q(p.frameRate);
    p.sampleAspect = AVRational{1, 1};
    shape_.natural = info.naturalDepth();
    shape_.alpha = info.hasAlpha();
    shape_.storage = info.storage;
    shape_.premultiplied = info.formatName == "openexr";
  }

  void openMovieOutput() {
    EncoderSettings encoder{command_.movie.codec, command_.movie.quality, command_.movie.bitrate};
    const AVCodecID codec = reader_ ? reader_->codec() : AV_CODEC_ID_NONE;
    const int profile = reader_ ? reader_->profile() : -1;
    writer_ = std::make_unique<MovieWriter>(command_.output, shape_.picture, depth_, shape_.alpha, encoder,
                                            reader_.get(), codec, profile);
    if (reader_) {
      const double start = StartSeconds();
      const double end = last_ ? start + (*last_ - first_ + 1) / av_q2d(shape_.picture.frameRate) : 1e300;
      reader_->onOtherPacket([this, start, end](AVPacket& packet) { writer_->copyPacket(packet, start, end); });
    }
  }

  void planImageOutput() {
    outputPattern_ = ParseFramePattern(command_.output);
    if (!outputPattern_.isSequence() && total_ != 1)
      throw std::runtime_error("output '" + command_.output +
                               "' needs a frame-number field (#### or %04d), or choose one frame with --frames");
  }

  // Where the first rendered frame sits in the source, in seconds: audio
  // before it is left out and the rest moves back by as much.
  double StartSeconds() const {
    if (first_ == 0) return 0.0;
    const AVStream* video = reader_->container()->streams[reader_->videoStream()];
    const double origin = video->start_time != AV_NOPTS_VALUE ? video->start_time * av_q2d(video->time_base) : 0.0;
    return origin + first_ / av_q2d(shape_.picture.frameRate);
  }

  bool nextMovieFrame(FrameJob& job) {
    while (true) {
      if (last_ && reader_->framesRead() > *last_) return false;
      FramePtr frame = reader_->nextFrame();
      if (!frame) return false;
      const std::int64_t number = reader_->framesRead() - 1;
      if (number < first_) continue;
      const std::int64_t stamp = frame->best_effort_timestamp;
      if (!firstPts_) firstPts_ = first_ == 0 || stamp == AV_NOPTS_VALUE ? 0 : stamp;
      job.number = number;
      job.pts = stamp == AV_NOPTS_VALUE ? (number - first_) * FrameStep() : stamp - *firstPts_;
      job.decoded = std::move(frame);
      job.outputPath = writer_ ? "" : FramePath(outputPattern_, number);
      return true;
    }
  }

  bool nextImageFrame(FrameJob& job) {
    if (nextImage_ >= frameNumbers_.size()) return false;
    const long number = frameNumbers_[nextImage_];
    job.number = number;
    job.pts = static_cast<std::int64_t>(nextImage_) * FrameStep();
    job.inputPath = FramePath(inputPattern_, number);
    job.outputPath = writer_ ? "" : FramePath(outputPattern_, number);
    ++nextImage_;
    return true;
  }

  std::int64_t FrameStep() const {
    return std::max<std::int64_t>(
        1, av_rescale_q(1, av_inv_q(shape_.picture.frameRate), shape_.picture.timeBase));
  }

  void render(FrameJob& job, Worker& worker) {
    const ColourTags sourceTags{shape_.picture.matrix, shape_.picture.range};
    RgbaImage source = job.decoded ? worker.converter.toRgba(*job.decoded, depth_, sourceTags)
                                   : ReadRgbaImage(job.inputPath, depth_, command_.pixelLimit);
    job.decoded.reset();
    source.alphaMode = !shape_.alpha            ? AlphaMode::Opaque
                       : shape_.premultiplied ? AlphaMode::Premultiplied
                                              : AlphaMode::Straight;
    if (source.width != shape_.picture.width || source.height != shape_.picture.height)
      throw std::runtime_error("'" + job.inputPath + "' is " + std::to_string(source.width) + "x" +
                               std::to_string(source.height) + ", unlike the first frame");
    if (colour_) colour_->toDisplay(source, shape_.premultiplied);
    RgbaImage output(source.width, source.height, depth_);
    const int tiles = plugin_.description().supportsTiles ? command_.tiles : 1;
    worker.instance->render(source, output, static_cast<double>(job.number),
                            SplitIntoWindows(source.width, source.height, tiles));
    if (colour_) colour_->toOutput(output, shape_.premultiplied);
    if (writer_)
      job.encoded = worker.converter.fromRgba(output, writer_->pixelFormat(), writer_->tags());
    else
      WriteRgbaImage(job.outputPath, output, {StorageForOutput(depth_, shape_.storage), shape_.alpha});
  }

  void finishMovieInput() {
    if (!last_) return;
    if (reader_->framesRead() <= *last_)
      throw std::runtime_error("'" + command_.input + "' ends after frame " + std::to_string(reader_->framesRead() - 1) +
                               ", before the range does");
    // Audio that lies after the last picture's packet in the file.
    if (writer_) reader_->drainOtherPackets(StartSeconds() + total_ / av_q2d(shape_.picture.frameRate) + 1.0);
  }

  LoadedPlugin& plugin_;
  const RenderCommand& command_;
  const std::vector<ResolvedSetting>& settings_;
  const color::ColourPipeline* colour_;
  SourceShape shape_;
  PixelDepth depth_ = PixelDepth::Byte;
  std::unique_ptr<MovieReader> reader_;
  std::unique_ptr<MovieWriter> writer_;
  std::vector<std::unique_ptr<Worker>> workers_;
  FramePattern inputPattern_, outputPattern_;
  std::vector<long> frameNumbers_;
  std::size_t nextImage_ = 0;
  long first_ = 0;
  std::optional<long> last_;
  std::optional<std::int64_t> firstPts_;
  std::int64_t total_ = 0;
};

}  // namespace

bool InvolvesMovie(const RenderCommand& command) { return IsMovieName(command.input) || IsMovieName(command.output); }

void RunMovieRender(LoadedPlugin& plugin, const RenderCommand& command, const std::vector<ResolvedSetting>& settings,
                    const color::ColourPipeline* colour) {
  MovieRender(plugin, command, settings, colour).run();
}

}  // namespace lenstrove::cli::movie
