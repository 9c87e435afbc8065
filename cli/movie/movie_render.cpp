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

#include "changed_tiles.h"
#include "frame_pipeline.h"
#include "image/image_fit.h"
#include "image/sequence.h"
#include "interface/progress.h"
#include "movie_reader.h"
#include "movie_writer.h"
#include "picture_converter.h"
#include "render/render_job.h"

namespace lenstrove::cli::movie {
namespace {

// Frames between the reader and the writer per worker: enough to keep
// every worker busy while the writer waits for the oldest frame.
constexpr int kFramesInFlightPerWorker = 2;

// Everything a worker keeps between frames: its plug-in instance, its
// conversions and the two pictures it renders between, reused frame after
// frame.
struct Worker {
  std::unique_ptr<EffectInstance> instance;
  PictureConverter converter;
  RgbaImage source, output;
};

// Makes `image` width x height at `depth`, keeping its memory when it is
// that already.
void Reshape(RgbaImage& image, int width, int height, PixelDepth depth) {
  if (image.width != width || image.height != height || image.depth != depth) image = RgbaImage(width, height, depth);
}

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

// A decoded frame to write the rendered tiles into: the frame itself when
// nothing else holds its memory (intra-frame codecs), else a copy.
FramePtr WritableFrame(FramePtr decoded, MovieWriter& writer) {
  if (av_frame_is_writable(decoded.get())) {
    // What the decoder attached (captions, grain parameters) is not for
    // the encoder: the output's properties are the writer's.
    while (decoded->nb_side_data > 0) av_frame_remove_side_data(decoded.get(), decoded->side_data[0]->type);
    return decoded;
  }
  FramePtr copy = writer.makeFrame();
  if (av_frame_copy(copy.get(), decoded.get()) < 0) throw std::runtime_error("cannot copy a decoded frame");
  return copy;
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
    // Movie to movie at the same size, chroma goes out as it came in; and
    // in the same samples, what the plug-in leaves alone is written as it
    // was decoded. Pictures that are scaled, or stay RGB, get filtered chroma.
    const bool sameSize = renderWidth_ == shape_.picture.width && renderHeight_ == shape_.picture.height;
    chroma_ = reader_ && writer_ && sameSize ? ChromaStyle::RoundTrip : ChromaStyle::Smooth;
    keepSamples_ = chroma_ == ChromaStyle::RoundTrip && colour_ == nullptr &&
                   writer_->pixelFormat() == shape_.picture.pixelFormat && TilesCanBeWritten(writer_->pixelFormat());

    const int workers = session::WorkersFor(plugin_.description(), command_.jobs, 1 << 20);
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
    reader_ = std::make_unique<MovieReader>(command_.input, command_.jobs);
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
    p.sampleAspect = av_d2q(info.pixelAspect, 100000);
    shape_.natural = info.naturalDepth();
    shape_.alpha = info.hasAlpha();
    shape_.storage = info.storage;
    shape_.premultiplied = info.formatName == "openexr";
  }

  void openMovieOutput() {
    const EncoderSettings encoder{command_.movie.codec, command_.movie.quality, command_.movie.bitrate,
                                  command_.movie.audio, command_.fit, command_.jobs};
    const AVCodecID codec = reader_ ? reader_->codec() : AV_CODEC_ID_NONE;
    const int profile = reader_ ? reader_->profile() : -1;
    writer_ = std::make_unique<MovieWriter>(command_.output, shape_.picture, depth_, shape_.alpha, encoder,
                                            reader_.get(), codec, profile);
    renderWidth_ = writer_->picture().width;
    renderHeight_ = writer_->picture().height;
    if (!writer_->audioNote().empty()) std::cerr << "lenstrove: " << writer_->audioNote() << "\n";
    if (reader_) {
      const double start = StartSeconds();
      writer_->setAudioSpan(start, last_ ? start + (*last_ - first_ + 1) / av_q2d(shape_.picture.frameRate) : 1e300);
      reader_->onOtherPacket([this](AVPacket& packet) { writer_->takeAudio(packet); });
    }
  }

  void planImageOutput() {
    outputPattern_ = ParseFramePattern(command_.output);
    if (!outputPattern_.isSequence() && total_ != 1)
      throw std::runtime_error("output '" + command_.output +
                               "' needs a frame-number field (#### or %04d), or choose one frame with --frames");
    const PictureProperties& p = shape_.picture;
    renderWidth_ = p.width;
    renderHeight_ = p.height;
    if (!command_.fit) return;
    const double aspect = p.sampleAspect.num > 0 && p.sampleAspect.den > 0 ? av_q2d(p.sampleAspect) : 1.0;
    const PictureSize fitted = FittedSize(p.width, p.height, aspect, *command_.fit);
    renderWidth_ = static_cast<int>(fitted.width);
    renderHeight_ = static_cast<int>(fitted.height);
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
    RgbaImage& source = worker.source;
    if (job.decoded) {
      Reshape(source, renderWidth_, renderHeight_, depth_);
      worker.converter.toRgba(*job.decoded, source, {shape_.picture.matrix, shape_.picture.range}, chroma_);
      if (!keepSamples_) job.decoded.reset();
    } else {
      readImage(job.inputPath, source);
    }
    source.alphaMode = !shape_.alpha            ? AlphaMode::Opaque
                       : shape_.premultiplied ? AlphaMode::Premultiplied
                                              : AlphaMode::Straight;
    if (colour_) colour_->toDisplay(source, shape_.premultiplied);
    RgbaImage& output = worker.output;
    Reshape(output, source.width, source.height, depth_);
    worker.instance->render(source, output, static_cast<double>(job.number),
                            session::WindowsFor(plugin_.description(), source.width, source.height, command_.tiles));
    if (colour_) colour_->toOutput(output, shape_.premultiplied);
    if (writer_) {
      if (keepSamples_) {
        job.encoded = WritableFrame(std::move(job.decoded), *writer_);
        worker.converter.writeChangedTiles(source, output, *job.encoded, writer_->tags());
      } else {
        job.encoded = writer_->makeFrame();
        worker.converter.fromRgba(output, *job.encoded, writer_->tags(), chroma_);
      }
    } else {
      WriteRgbaImage(job.outputPath, output, {StorageForOutput(depth_, shape_.storage), shape_.alpha});
    }
  }

  // A frame of an image-sequence input, fitted as the first one was.
  void readImage(const std::string& path, RgbaImage& picture) const {
    picture = ReadRgbaImage(path, depth_, command_.pixelLimit);
    if (picture.width != shape_.picture.width || picture.height != shape_.picture.height)
      throw std::runtime_error("'" + path + "' is " + std::to_string(picture.width) + "x" +
                               std::to_string(picture.height) + ", unlike the first frame");
    if (picture.width != renderWidth_ || picture.height != renderHeight_)
      picture = ResizedRgba(picture, renderWidth_, renderHeight_);
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
  int renderWidth_ = 0, renderHeight_ = 0;  // the pictures the plug-in sees: the source's, or fitted
  ChromaStyle chroma_ = ChromaStyle::Smooth;
  bool keepSamples_ = false;
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
