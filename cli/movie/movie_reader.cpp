#include "movie_reader.h"

#include <cmath>
#include <stdexcept>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace lenstrove::cli::movie {
namespace {

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

// The library's own words are more telling than the error code's, when
// it logged any.
std::string Reason(int code) {
  const std::string logged = LastLibraryError();
  return logged.empty() ? AvErrorText(code) : logged;
}

std::string TimecodeOf(AVFormatContext* container, const AVStream* video) {
  if (const AVDictionaryEntry* e = av_dict_get(video->metadata, "timecode", nullptr, 0)) return e->value;
  if (const AVDictionaryEntry* e = av_dict_get(container->metadata, "timecode", nullptr, 0)) return e->value;
  for (unsigned i = 0; i < container->nb_streams; ++i)
    if (const AVDictionaryEntry* e = av_dict_get(container->streams[i]->metadata, "timecode", nullptr, 0))
      return e->value;
  return "";
}

AVRational FrameRateOf(AVFormatContext* container, AVStream* video) {
  AVRational rate = av_guess_frame_rate(container, video, nullptr);
  if (rate.num <= 0 || rate.den <= 0) rate = video->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = AVRational{24, 1};
  return rate;
}

std::int64_t ExpectedFrames(const AVStream* video, AVRational rate) {
  if (video->nb_frames > 0) return video->nb_frames;
  if (video->duration != AV_NOPTS_VALUE && video->duration > 0)
    return av_rescale_q(video->duration, video->time_base, av_inv_q(rate));
  return 0;
}

}  // namespace

PixelDepth NaturalDepth(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  if (d == nullptr) return PixelDepth::Byte;
  if (d->flags & AV_PIX_FMT_FLAG_FLOAT) return PixelDepth::Float;
  for (int c = 0; c < d->nb_components; ++c)
    if (d->comp[c].depth > 8) return PixelDepth::Float;
  return PixelDepth::Byte;
}

bool HasAlpha(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d != nullptr && (d->flags & AV_PIX_FMT_FLAG_ALPHA);
}

MovieReader::MovieReader(const std::string& path, int threads) : path_(path) {
  QuietLibraryLogging();
  // A constructor that throws runs no destructor: the container must be
  // closed here, or every refused file leaks it.
  try {
    open(path, threads);
  } catch (...) {
    avformat_close_input(&container_);
    throw;
  }
}

void MovieReader::open(const std::string& path, int threads) {
  int status = avformat_open_input(&container_, path.c_str(), nullptr, nullptr);
  if (status < 0) throw std::runtime_error("cannot read movie " + Quoted(path) + ": " + Reason(status));
  status = avformat_find_stream_info(container_, nullptr);
  if (status < 0) throw std::runtime_error("cannot read movie " + Quoted(path) + ": " + Reason(status));

  const AVCodec* decoder = nullptr;
  videoStream_ = av_find_best_stream(container_, AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
  if (videoStream_ == AVERROR_STREAM_NOT_FOUND) throw std::runtime_error(Quoted(path) + " holds no video stream");
  AVStream* video = container_->streams[videoStream_ < 0 ? 0 : videoStream_];
  if (videoStream_ < 0 || decoder == nullptr)
    throw std::runtime_error("no decoder here for the video codec '" +
                             std::string(avcodec_get_name(video->codecpar->codec_id)) + "' of " + Quoted(path));

  decoder_.reset(avcodec_alloc_context3(decoder));
  if (!decoder_) throw std::bad_alloc();
  avcodec_parameters_to_context(decoder_.get(), video->codecpar);
  decoder_->pkt_timebase = video->time_base;
  decoder_->thread_count = threads;
  decoder_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  // A damaged picture is an error, not something to conceal.
  decoder_->err_recognition |= AV_EF_CRCCHECK | AV_EF_BITSTREAM | AV_EF_EXPLODE;
  status = avcodec_open2(decoder_.get(), decoder, nullptr);
  if (status < 0) throw std::runtime_error("cannot decode " + Quoted(path) + ": " + Reason(status));

  PictureProperties& p = properties_;
  p.width = decoder_->width;
  p.height = decoder_->height;
  p.pixelFormat = decoder_->pix_fmt;
  p.frameRate = FrameRateOf(container_, video);
  p.timeBase = video->time_base;
  p.sampleAspect = av_guess_sample_aspect_ratio(container_, video, nullptr);
  p.primaries = video->codecpar->color_primaries;
  p.transfer = video->codecpar->color_trc;
  p.matrix = video->codecpar->color_space;
  p.range = video->codecpar->color_range;
  p.timecode = TimecodeOf(container_, video);
  if (p.width <= 0 || p.height <= 0 || p.pixelFormat == AV_PIX_FMT_NONE)
    throw std::runtime_error("cannot read movie " + Quoted(path) + ": its picture size or format is unknown");
  expectedFrames_ = ExpectedFrames(video, p.frameRate);
}

MovieReader::~MovieReader() { avformat_close_input(&container_); }

AVCodecID MovieReader::codec() const { return container_->streams[videoStream_]->codecpar->codec_id; }
int MovieReader::profile() const { return container_->streams[videoStream_]->codecpar->profile; }

void MovieReader::checkFrame(const AVFrame& frame) const {
  if ((frame.flags & AV_FRAME_FLAG_CORRUPT) || frame.decode_error_flags != 0)
    throw std::runtime_error("frame " + std::to_string(framesRead_) + " of " + Quoted(path_) + " is damaged");
  if (frame.width != properties_.width || frame.height != properties_.height ||
      frame.format != properties_.pixelFormat)
    throw std::runtime_error("frame " + std::to_string(framesRead_) + " of " + Quoted(path_) +
                             " changes the picture size or format, which is not supported");
}

// A file cut short often reads to its end without complaint; the header's
// own count tells that pictures are missing.
void MovieReader::checkComplete() const {
  if (expectedFrames_ > 0 && framesRead_ + 1 < expectedFrames_)
    throw std::runtime_error(Quoted(path_) + " is truncated or damaged: " + std::to_string(framesRead_) + " of " +
                             std::to_string(expectedFrames_) + " frames could be read");
}

bool MovieReader::receiveFrame(FramePtr& frame) {
  const int status = avcodec_receive_frame(decoder_.get(), frame.get());
  if (status == AVERROR(EAGAIN) || status == AVERROR_EOF) return false;
  if (status < 0)
    throw std::runtime_error("frame " + std::to_string(framesRead_) + " of " + Quoted(path_) +
                             " cannot be decoded: " + Reason(status));
  checkFrame(*frame);
  return true;
}

FramePtr MovieReader::nextFrame() {
  if (finished_) return nullptr;
  FramePtr frame = NewFrame();
  PacketPtr packet = NewPacket();
  while (true) {
    if (receiveFrame(frame)) {
      ++framesRead_;
      return frame;
    }
    if (flushed_) {
      finished_ = true;
      checkComplete();
      return nullptr;
    }
    const int status = av_read_frame(container_, packet.get());
    if (status == AVERROR_EOF) {
      avcodec_send_packet(decoder_.get(), nullptr);
      flushed_ = true;
      continue;
    }
    if (status < 0) throw std::runtime_error("cannot read movie " + Quoted(path_) + ": " + Reason(status));
    if (packet->stream_index != videoStream_) {
      if (otherPacket_) otherPacket_(*packet);
      av_packet_unref(packet.get());
      continue;
    }
    if (packet->flags & AV_PKT_FLAG_CORRUPT)
      throw std::runtime_error("frame " + std::to_string(framesRead_) + " of " + Quoted(path_) + " is damaged");
    const int sent = avcodec_send_packet(decoder_.get(), packet.get());
    av_packet_unref(packet.get());
    if (sent < 0 && sent != AVERROR(EAGAIN))
      throw std::runtime_error("frame " + std::to_string(framesRead_) + " of " + Quoted(path_) +
                               " cannot be decoded: " + Reason(sent));
  }
}

void MovieReader::drainOtherPackets(double seconds) {
  if (flushed_) return;
  PacketPtr packet = NewPacket();
  while (av_read_frame(container_, packet.get()) >= 0) {
    const AVStream* stream = container_->streams[packet->stream_index];
    const std::int64_t stamp = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
    const bool past = stamp != AV_NOPTS_VALUE && stamp * av_q2d(stream->time_base) > seconds;
    const bool other = packet->stream_index != videoStream_;
    if (other && !past && otherPacket_) otherPacket_(*packet);
    av_packet_unref(packet.get());
    if (past && other) break;
  }
}

}  // namespace lenstrove::cli::movie
