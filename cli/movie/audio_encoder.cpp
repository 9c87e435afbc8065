#include "audio_encoder.h"

#include <algorithm>
#include <new>
#include <stdexcept>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

namespace lenstrove::cli::movie {
namespace {

// Encoders that take any number of samples get them this many at a time.
constexpr int kFreeFrameSize = 2048;

std::string LayoutName(const AVChannelLayout& layout) {
  char text[128] = {};
  av_channel_layout_describe(&layout, text, sizeof text);
  return text;
}

// A layout every encoder can name: the source's, or for streams that only
// count their channels the usual one for that count.
AVChannelLayout NamedLayout(const AVChannelLayout& source) {
  AVChannelLayout layout{};
  if (source.order == AV_CHANNEL_ORDER_UNSPEC || source.order == AV_CHANNEL_ORDER_CUSTOM)
    av_channel_layout_default(&layout, source.nb_channels);
  else
    av_channel_layout_copy(&layout, &source);
  return layout;
}

AVSampleFormat EncoderFormat(const AVCodec& encoder, AVSampleFormat decoded) {
  if (encoder.sample_fmts == nullptr) return decoded;
  for (const AVSampleFormat* f = encoder.sample_fmts; *f != AV_SAMPLE_FMT_NONE; ++f)
    if (*f == decoded) return decoded;
  return encoder.sample_fmts[0];
}

// Pointers to sample `offset` of a frame's data, planar or packed.
void OffsetPointers(const AVFrame& frame, int offset, std::uint8_t* pointers[AV_NUM_DATA_POINTERS]) {
  const AVSampleFormat format = static_cast<AVSampleFormat>(frame.format);
  const int bytes = av_get_bytes_per_sample(format);
  const bool planar = av_sample_fmt_is_planar(format);
  const int planes = planar ? frame.ch_layout.nb_channels : 1;
  const int step = planar ? bytes : bytes * frame.ch_layout.nb_channels;
  for (int p = 0; p < planes && p < AV_NUM_DATA_POINTERS; ++p) pointers[p] = frame.extended_data[p] + offset * step;
}

}  // namespace

AudioEncoder::AudioEncoder(const AVStream& source, AVCodecID target, AVFormatContext& output)
    : decoded_(NewFrame()), converted_(NewFrame()), packet_(NewPacket()) {
  name_ = "audio stream " + std::to_string(source.index) + " (" + avcodec_get_name(source.codecpar->codec_id) + ")";
  sourceTimeBase_ = source.time_base;
  // A constructor that throws runs no destructor.
  try {
    openDecoder(source);
    openEncoder(source, target, output);
  } catch (...) {
    swr_free(&resampler_);
    if (queue_ != nullptr) av_audio_fifo_free(queue_);
    throw;
  }
}

AudioEncoder::~AudioEncoder() {
  swr_free(&resampler_);
  if (queue_ != nullptr) av_audio_fifo_free(queue_);
}

void AudioEncoder::fail(const std::string& what, int status) const {
  const std::string logged = LastLibraryError();
  throw std::runtime_error(what + ": " + (logged.empty() ? AvErrorText(status) : logged));
}

void AudioEncoder::openDecoder(const AVStream& source) {
  const AVCodec* decoder = avcodec_find_decoder(source.codecpar->codec_id);
  if (decoder == nullptr)
    throw std::runtime_error("no decoder here for " + name_ + ", so it cannot be encoded (--audio none leaves it out)");
  decoder_.reset(avcodec_alloc_context3(decoder));
  if (!decoder_) throw std::bad_alloc();
  avcodec_parameters_to_context(decoder_.get(), source.codecpar);
  decoder_->pkt_timebase = source.time_base;
  ClearLastLibraryError();
  const int status = avcodec_open2(decoder_.get(), decoder, nullptr);
  if (status < 0) fail("cannot decode " + name_, status);
  if (decoder_->sample_rate <= 0 || decoder_->ch_layout.nb_channels <= 0)
    throw std::runtime_error("cannot decode " + name_ + ": its sample rate or channels are unknown");
}

void AudioEncoder::openEncoder(const AVStream& source, AVCodecID target, AVFormatContext& output) {
  const AVCodec* encoder = avcodec_find_encoder(target);
  if (encoder == nullptr)
    throw std::runtime_error(std::string("this build of FFmpeg's libraries has no ") + avcodec_get_name(target) +
                             " encoder for " + name_);
  encoder_.reset(avcodec_alloc_context3(encoder));
  if (!encoder_) throw std::bad_alloc();
  AVCodecContext& e = *encoder_;
  AVChannelLayout layout = NamedLayout(decoder_->ch_layout);
  av_channel_layout_copy(&e.ch_layout, &layout);
  e.sample_rate = decoder_->sample_rate;
  e.sample_fmt = EncoderFormat(*encoder, decoder_->sample_fmt);
  e.time_base = AVRational{1, e.sample_rate};
  if (output.oformat->flags & AVFMT_GLOBALHEADER) e.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  ClearLastLibraryError();
  int status = avcodec_open2(&e, encoder, nullptr);
  if (status < 0)
    fail("cannot encode " + name_ + " as " + avcodec_get_name(target) + " at " + std::to_string(e.sample_rate) +
             " Hz, " + LayoutName(layout),
         status);
  status = swr_alloc_set_opts2(&resampler_, &layout, e.sample_fmt, e.sample_rate, &layout, decoder_->sample_fmt,
                               decoder_->sample_rate, 0, nullptr);
  if (status < 0 || swr_init(resampler_) < 0) fail("cannot convert the samples of " + name_, status);
  queue_ = av_audio_fifo_alloc(e.sample_fmt, layout.nb_channels, 1);
  if (queue_ == nullptr) throw std::bad_alloc();

  stream_ = avformat_new_stream(&output, nullptr);
  if (stream_ == nullptr) throw std::bad_alloc();
  avcodec_parameters_from_context(stream_->codecpar, &e);
  stream_->time_base = e.time_base;
  stream_->disposition = source.disposition;
  av_dict_copy(&stream_->metadata, source.metadata, 0);
}

void AudioEncoder::setSpan(std::int64_t first, std::int64_t end) {
  first_ = first;
  end_ = end;
}

void AudioEncoder::send(const AVPacket& packet, const PacketSink& sink) {
  const int status = avcodec_send_packet(decoder_.get(), &packet);
  if (status < 0 && status != AVERROR(EAGAIN) && status != AVERROR_INVALIDDATA) fail("cannot decode " + name_, status);
  receiveDecoded(sink);
}

void AudioEncoder::receiveDecoded(const PacketSink& sink) {
  while (avcodec_receive_frame(decoder_.get(), decoded_.get()) == 0) {
    keep(*decoded_);
    av_frame_unref(decoded_.get());
    encodeQueued(sink, false);
  }
}

// Converts a decoded frame and queues the part of it inside the span.
void AudioEncoder::keep(const AVFrame& decoded) {
  const std::int64_t stamp = decoded.best_effort_timestamp;
  const std::int64_t start = stamp == AV_NOPTS_VALUE
                                 ? nextSource_
                                 : av_rescale_q(stamp, sourceTimeBase_, AVRational{1, encoder_->sample_rate});
  nextSource_ = start + decoded.nb_samples;
  const std::int64_t from = std::max(start, first_), to = std::min(start + decoded.nb_samples, end_);
  if (to <= from) return;
  if (converted_->nb_samples < decoded.nb_samples) {
    av_frame_unref(converted_.get());
    converted_->format = encoder_->sample_fmt;
    av_channel_layout_copy(&converted_->ch_layout, &encoder_->ch_layout);
    converted_->sample_rate = encoder_->sample_rate;
    converted_->nb_samples = decoded.nb_samples;
    if (av_frame_get_buffer(converted_.get(), 0) < 0) throw std::bad_alloc();
  }
  const int count = swr_convert(resampler_, converted_->extended_data, converted_->nb_samples,
                                const_cast<const std::uint8_t**>(decoded.extended_data), decoded.nb_samples);
  if (count < 0) fail("cannot convert the samples of " + name_, count);
  std::uint8_t* kept[AV_NUM_DATA_POINTERS] = {};
  OffsetPointers(*converted_, static_cast<int>(from - start), kept);
  const int keptCount = static_cast<int>(std::min<std::int64_t>(to - from, count - (from - start)));
  if (keptCount <= 0) return;
  if (nextOutput_ == AV_NOPTS_VALUE) nextOutput_ = from - first_ + av_audio_fifo_size(queue_);
  if (av_audio_fifo_write(queue_, reinterpret_cast<void**>(kept), keptCount) < keptCount) throw std::bad_alloc();
}

// Sends whole encoder frames from the queue; at the end also what is left.
void AudioEncoder::encodeQueued(const PacketSink& sink, bool last) {
  const bool anySize = encoder_->frame_size <= 0 || (encoder_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
  const int frameSize = anySize ? kFreeFrameSize : encoder_->frame_size;
  const bool shortLast = anySize || (encoder_->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME);
  while (av_audio_fifo_size(queue_) >= frameSize || (last && av_audio_fifo_size(queue_) > 0)) {
    const int count = std::min(frameSize, av_audio_fifo_size(queue_));
    FramePtr frame = NewFrame();
    frame->format = encoder_->sample_fmt;
    av_channel_layout_copy(&frame->ch_layout, &encoder_->ch_layout);
    frame->sample_rate = encoder_->sample_rate;
    frame->nb_samples = shortLast ? count : frameSize;
    if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
    if (count < frame->nb_samples)
      av_samples_set_silence(frame->extended_data, count, frame->nb_samples - count, frame->ch_layout.nb_channels,
                             encoder_->sample_fmt);
    av_audio_fifo_read(queue_, reinterpret_cast<void**>(frame->extended_data), count);
    frame->pts = nextOutput_;
    nextOutput_ += count;
    const int status = avcodec_send_frame(encoder_.get(), frame.get());
    if (status < 0) fail("cannot encode " + name_, status);
    receiveEncoded(sink);
  }
}

void AudioEncoder::receiveEncoded(const PacketSink& sink) {
  while (avcodec_receive_packet(encoder_.get(), packet_.get()) == 0) {
    av_packet_rescale_ts(packet_.get(), encoder_->time_base, stream_->time_base);
    packet_->stream_index = stream_->index;
    sink(*packet_);
    av_packet_unref(packet_.get());
  }
}

void AudioEncoder::finish(const PacketSink& sink) {
  avcodec_send_packet(decoder_.get(), nullptr);
  receiveDecoded(sink);
  encodeQueued(sink, true);
  const int status = avcodec_send_frame(encoder_.get(), nullptr);
  if (status < 0 && status != AVERROR_EOF) fail("cannot encode " + name_, status);
  receiveEncoded(sink);
}

}  // namespace lenstrove::cli::movie
