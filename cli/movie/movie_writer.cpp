#include "movie_writer.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

#include "image/image_fit.h"
#include "muxer_probe.h"

namespace lenstrove::cli::movie {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// Frames handed to the encoder: rows aligned for any vector unit, and room
// past the end for the encoders that read a little beyond it.
constexpr int kFrameAlign = 64;

// .mxf is written as OP1a, the operational pattern editing systems expect
// (FFmpeg also has OP-Atom and D-10 muxers for the same name).
const char* MuxerFor(const std::string& path) { return Extension(path) == "mxf" ? "mxf" : nullptr; }

// The written size: the source's, or fitted into the box with square
// pixels in the steps the pixel format's chroma needs.
PictureProperties WrittenPicture(const PictureProperties& source, const std::optional<PictureSize>& fit,
                                 AVPixelFormat format) {
  PictureProperties written = source;
  if (!fit) return written;
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  const AVRational aspect = source.sampleAspect;
  const PictureSize size = FittedSize(source.width, source.height, aspect.num > 0 && aspect.den > 0 ? av_q2d(aspect) : 1.0,
                                      *fit, 1 << d->log2_chroma_w, 1 << d->log2_chroma_h);
  written.width = static_cast<int>(size.width);
  written.height = static_cast<int>(size.height);
  written.sampleAspect = AVRational{1, 1};
  return written;
}

bool Supports(const AVCodec* encoder, AVPixelFormat format) {
  if (encoder->pix_fmts == nullptr) return true;
  for (const AVPixelFormat* f = encoder->pix_fmts; *f != AV_PIX_FMT_NONE; ++f)
    if (*f == format) return true;
  return false;
}

bool IsRgbFormat(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d != nullptr && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

// FFV1 stores the source's own samples when it can, so a lossless copy
// stays lossless; the other codecs get what their profile calls for.
AVPixelFormat ChooseFormat(const CodecChoice& choice, const AVCodec* encoder, AVPixelFormat source, PixelDepth depth,
                           bool alpha) {
  if (choice.id == AV_CODEC_ID_FFV1) {
    if (source != AV_PIX_FMT_NONE && Supports(encoder, source)) return source;
    if (alpha && depth == PixelDepth::Float) return AV_PIX_FMT_GBRAP16;
  }
  if (alpha && choice.alphaFormat != AV_PIX_FMT_NONE) return choice.alphaFormat;
  if (depth == PixelDepth::Float && choice.deepFormat != AV_PIX_FMT_NONE) return choice.deepFormat;
  return choice.format;
}

// The source's tags, made true for the samples written: RGB samples carry
// the RGB "matrix" and full range, and YUV made from RGB pictures (image
// sequences, RGB movies) is BT.709 at video range.
void SetColourTags(AVCodecContext& encoder, const PictureProperties& source) {
  encoder.color_primaries = source.primaries;
  encoder.color_trc = source.transfer;
  encoder.colorspace = source.matrix;
  encoder.color_range = source.range;
  const bool sourceRgb = source.pixelFormat == AV_PIX_FMT_NONE || IsRgbFormat(source.pixelFormat);
  if (IsRgbFormat(encoder.pix_fmt)) {
    encoder.colorspace = AVCOL_SPC_RGB;
    encoder.color_range = AVCOL_RANGE_JPEG;
  } else if (sourceRgb) {
    encoder.colorspace = AVCOL_SPC_BT709;
    encoder.color_range = AVCOL_RANGE_MPEG;
    if (source.pixelFormat == AV_PIX_FMT_NONE) {
      encoder.color_primaries = AVCOL_PRI_BT709;
      encoder.color_trc = AVCOL_TRC_IEC61966_2_1;
    }
  }
}

void ApplyQuality(AVCodecContext& encoder, const CodecChoice& choice, const EncoderSettings& settings) {
  if (settings.bitrate) encoder.bit_rate = *settings.bitrate;
  if (!settings.quality) return;
  switch (choice.quality) {
    case QualityKnob::ConstantRateFactor:
      av_opt_set_double(encoder.priv_data, "crf", *settings.quality, 0);
      break;
    case QualityKnob::QuantiserScale:
      encoder.flags |= AV_CODEC_FLAG_QSCALE;
      encoder.global_quality = static_cast<int>(*settings.quality * FF_QP2LAMBDA);
      break;
    case QualityKnob::None:
      throw std::runtime_error(std::string("codec ") + choice.name + " has no --quality setting" +
                               (choice.id == AV_CODEC_ID_FFV1 ? " (it is lossless)" : "; its profile sets the rate"));
  }
}

}  // namespace

MovieWriter::MovieWriter(const std::string& path, const PictureProperties& picture, PixelDepth depth, bool alpha,
                         const EncoderSettings& settings, const MovieReader* audioFrom, AVCodecID sourceCodec,
                         int sourceProfile)
    : path_(path), temp_(path), packet_(NewPacket()) {
  QuietLibraryLogging();
  // A constructor that throws runs no destructor: the container must be
  // freed here, or every refused output leaks it.
  try {
    open(path, picture, depth, alpha, settings, audioFrom, sourceCodec, sourceProfile);
  } catch (...) {
    closeContainer();
    av_buffer_pool_uninit(&framePool_);
    throw;
  }
}

void MovieWriter::open(const std::string& path, const PictureProperties& picture, PixelDepth depth, bool alpha,
                       const EncoderSettings& settings, const MovieReader* audioFrom, AVCodecID sourceCodec,
                       int sourceProfile) {
  choice_ = settings.codec.empty() ? &DefaultCodec(path, sourceCodec, sourceProfile) : &FindCodec(settings.codec);
  if (avformat_alloc_output_context2(&container_, nullptr, MuxerFor(path), path.c_str()) < 0 || container_ == nullptr)
    throw std::runtime_error("no movie container is known for the name " + Quoted(path));
  openEncoder(picture, settings, depth, alpha);
  checkContainerTakes(path);
  if (audioFrom != nullptr)
    audio_ = std::make_unique<AudioOutput>(*audioFrom, *container_,
                                           ProbedStream{video_->codecpar, video_->time_base, picture_.frameRate},
                                           settings.audio);
  if (!picture_.timecode.empty()) {
    av_dict_set(&video_->metadata, "timecode", picture_.timecode.c_str(), 0);
    av_dict_set(&container_->metadata, "timecode", picture_.timecode.c_str(), 0);
  }
  int status = avio_open(&container_->pb, temp_.path().c_str(), AVIO_FLAG_WRITE);
  if (status < 0) throw std::runtime_error("cannot write output " + Quoted(path) + ": " + AvErrorText(status));
  status = avformat_write_header(container_, nullptr);
  if (status < 0) throw std::runtime_error("cannot write output " + Quoted(path) + ": " + AvErrorText(status));
  headerWritten_ = true;
}

MovieWriter::~MovieWriter() {
  closeContainer();
  av_buffer_pool_uninit(&framePool_);
}

// The muxer's own answer, not its codec table's (see MuxerAccepts).
void MovieWriter::checkContainerTakes(const std::string& path) const {
  std::string reason;
  if (!MuxerAccepts(container_->oformat, {{video_->codecpar, video_->time_base, picture_.frameRate}}, &reason))
    throw std::runtime_error(std::string("a .") + Extension(path) + " file cannot hold " + choice_->description +
                             (reason.empty() ? "" : " (" + reason + ")") + "; a .mkv file can");
}

void MovieWriter::closeContainer() {
  if (container_ != nullptr && container_->pb != nullptr) avio_closep(&container_->pb);
  avformat_free_context(container_);
  container_ = nullptr;
}

void MovieWriter::openEncoder(const PictureProperties& picture, const EncoderSettings& settings, PixelDepth depth,
                              bool alpha) {
  const AVCodec* encoder = avcodec_find_encoder_by_name(choice_->encoder);
  if (encoder == nullptr)
    throw std::runtime_error(std::string("this build of FFmpeg's libraries has no ") + choice_->encoder +
                             " encoder for " + choice_->description);
  encoder_.reset(avcodec_alloc_context3(encoder));
  if (!encoder_) throw std::bad_alloc();
  AVCodecContext& e = *encoder_;
  format_ = ChooseFormat(*choice_, encoder, picture.pixelFormat, depth, alpha);
  picture_ = WrittenPicture(picture, settings.fit, format_);
  e.width = picture_.width;
  e.height = picture_.height;
  e.pix_fmt = format_;
  // Muxers read the profile from the stream (MXF labels ProRes by it).
  if (choice_->sourceProfile >= 0) e.profile = choice_->sourceProfile;
  // MXF counts time in frames; elsewhere the source's time base is kept.
  sourceTimeBase_ = picture.timeBase;
  e.time_base = Extension(path_) == "mxf" ? av_inv_q(picture.frameRate) : picture.timeBase;
  e.framerate = picture.frameRate;
  e.sample_aspect_ratio = picture_.sampleAspect;
  SetColourTags(e, picture);
  e.thread_count = settings.threads;
  // The DNxHD encoder refuses to start its frame threads.
  e.thread_type = choice_->id == AV_CODEC_ID_DNXHD ? FF_THREAD_SLICE : FF_THREAD_SLICE | FF_THREAD_FRAME;
  if (container_->oformat->flags & AVFMT_GLOBALHEADER) e.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (choice_->profile != nullptr) av_opt_set(e.priv_data, "profile", choice_->profile, 0);
  // x265 prints its settings on standard error unless told not to.
  if (choice_->id == AV_CODEC_ID_HEVC) av_opt_set(e.priv_data, "x265-params", "log-level=error", 0);
  ApplyQuality(e, *choice_, settings);
  frameDuration_ = std::max<std::int64_t>(1, av_rescale_q(1, av_inv_q(picture.frameRate), e.time_base));

  const int status = avcodec_open2(&e, encoder, nullptr);
  if (status < 0) {
    const std::string logged = LastLibraryError();
    throw std::runtime_error(std::string("cannot encode ") + choice_->description + " at " +
                             std::to_string(picture_.width) + "x" + std::to_string(picture_.height) + ": " +
                             (logged.empty() ? AvErrorText(status) : logged));
  }
  video_ = avformat_new_stream(container_, nullptr);
  if (video_ == nullptr) throw std::bad_alloc();
  avcodec_parameters_from_context(video_->codecpar, &e);
  video_->time_base = e.time_base;
  video_->avg_frame_rate = picture.frameRate;
  video_->r_frame_rate = picture.frameRate;
  video_->sample_aspect_ratio = picture_.sampleAspect;
  // QuickTime players want H.265 tagged hvc1 rather than the default hev1.
  const std::string extension = Extension(path_);
  if (choice_->id == AV_CODEC_ID_HEVC && (extension == "mov" || extension == "mp4" || extension == "m4v"))
    video_->codecpar->codec_tag = MKTAG('h', 'v', 'c', '1');
  const int frameBytes = av_image_get_buffer_size(format_, picture_.width, picture_.height, kFrameAlign);
  framePool_ = av_buffer_pool_init(frameBytes + AV_INPUT_BUFFER_PADDING_SIZE, av_buffer_alloc);
  if (frameBytes < 0 || framePool_ == nullptr) throw std::bad_alloc();
}

FramePtr MovieWriter::makeFrame() {
  FramePtr frame = NewFrame();
  frame->format = format_;
  frame->width = picture_.width;
  frame->height = picture_.height;
  frame->buf[0] = av_buffer_pool_get(framePool_);
  if (frame->buf[0] == nullptr) throw std::bad_alloc();
  av_image_fill_arrays(frame->data, frame->linesize, frame->buf[0]->data, format_, picture_.width, picture_.height,
                       kFrameAlign);
  return frame;
}

void MovieWriter::writePacket(AVPacket& packet) {
  std::lock_guard<std::mutex> lock(muxMutex_);
  const int status = av_interleaved_write_frame(container_, &packet);
  if (status < 0) throw std::runtime_error("cannot write output " + Quoted(path_) + ": " + AvErrorText(status));
}

void MovieWriter::drainEncoder() {
  while (true) {
    const int status = avcodec_receive_packet(encoder_.get(), packet_.get());
    if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return;
    if (status < 0) throw std::runtime_error("cannot encode " + Quoted(path_) + ": " + AvErrorText(status));
    if (packet_->duration == 0) packet_->duration = frameDuration_;
    av_packet_rescale_ts(packet_.get(), encoder_->time_base, video_->time_base);
    packet_->stream_index = video_->index;
    writePacket(*packet_);
  }
}

void MovieWriter::writeFrame(AVFrame& frame, std::int64_t pts) {
  frame.pts = av_rescale_q(pts, sourceTimeBase_, encoder_->time_base);
  frame.pkt_duration = frameDuration_;
  frame.sample_aspect_ratio = encoder_->sample_aspect_ratio;
  frame.color_primaries = encoder_->color_primaries;
  frame.color_trc = encoder_->color_trc;
  frame.colorspace = encoder_->colorspace;
  frame.color_range = encoder_->color_range;
  const int status = avcodec_send_frame(encoder_.get(), &frame);
  if (status < 0) throw std::runtime_error("cannot encode " + Quoted(path_) + ": " + AvErrorText(status));
  drainEncoder();
}

void MovieWriter::setAudioSpan(double start, double end) {
  if (audio_) audio_->setSpan(start, end);
}

void MovieWriter::takeAudio(const AVPacket& packet) {
  if (audio_) audio_->take(packet, [this](AVPacket& p) { writePacket(p); });
}

void MovieWriter::finish() {
  int status = avcodec_send_frame(encoder_.get(), nullptr);
  if (status < 0) throw std::runtime_error("cannot encode " + Quoted(path_) + ": " + AvErrorText(status));
  drainEncoder();
  if (audio_) audio_->finish([this](AVPacket& p) { writePacket(p); });
  {
    std::lock_guard<std::mutex> lock(muxMutex_);
    status = av_write_trailer(container_);
  }
  if (status >= 0 && container_->pb->error < 0) status = container_->pb->error;
  const int closed = avio_closep(&container_->pb);
  if (status >= 0) status = closed;
  if (status < 0) throw std::runtime_error("cannot write output " + Quoted(path_) + ": " + AvErrorText(status));
  temp_.commit();
}

}  // namespace lenstrove::cli::movie
