#include "audio_output.h"

#include <cmath>
#include <limits>
#include <stdexcept>

#include "movie_reader.h"

namespace lenstrove::cli::movie {

struct AudioOutput::Route {
  AVStream* copyTo = nullptr;
  std::unique_ptr<AudioEncoder> encoder;
};

namespace {

std::string CodecName(AVCodecID codec) { return avcodec_get_name(codec); }

// Samples stored one after another with nothing between them: these can be
// cut to the sample by cutting the packet's bytes. The size of one sample
// of every channel, or 0 for other codecs.
int PcmFrameBytes(const AVCodecParameters& p) {
  if (p.codec_id < AV_CODEC_ID_PCM_S16LE || p.codec_id >= AV_CODEC_ID_ADPCM_IMA_QT) return 0;
  const int bits = av_get_exact_bits_per_sample(p.codec_id);
  if (bits <= 0 || bits % 8 != 0 || p.ch_layout.nb_channels <= 0 || p.sample_rate <= 0) return 0;
  const int bytes = bits / 8 * p.ch_layout.nb_channels;
  return p.block_align == 0 || p.block_align == bytes ? bytes : 0;
}

// The container's usual audio codec: AAC where PCM is not at home (MPEG-4),
// PCM in the editing containers, else the muxer's own default.
AVCodecID UsualCodec(const AVOutputFormat& container, const AVCodecParameters& source) {
  const std::string name = container.name;
  if (name == "mp4" || name == "ipod") return AV_CODEC_ID_AAC;
  if (name == "mov" || name == "mxf" || name == "matroska") {
    const int bits = source.bits_per_raw_sample > 0 ? source.bits_per_raw_sample
                                                     : av_get_bytes_per_sample(static_cast<AVSampleFormat>(source.format)) * 8;
    return bits > 0 && bits <= 16 ? AV_CODEC_ID_PCM_S16LE : AV_CODEC_ID_PCM_S24LE;
  }
  return container.audio_codec;
}

std::string Bracketed(const std::string& reason) { return reason.empty() ? "" : " (" + reason + ")"; }

}  // namespace

AudioOutput::AudioOutput(const MovieReader& source, AVFormatContext& output, const ProbedStream& video,
                         AudioChoice choice)
    : source_(source.container()), extension_(Extension(output.url != nullptr ? output.url : "")), output_(&output) {
  routes_.resize(source_->nb_streams);
  std::string encoded;
  for (unsigned i = 0; i < source_->nb_streams; ++i) {
    const AVStream& from = *source_->streams[i];
    if (from.codecpar->codec_type != AVMEDIA_TYPE_AUDIO || choice == AudioChoice::None) continue;
    std::string reason;
    const bool copyable =
        choice != AudioChoice::Encode &&
        MuxerAccepts(output.oformat, {video, {from.codecpar, from.time_base, {0, 1}}}, &reason);
    if (choice == AudioChoice::Copy && !copyable)
      throw std::runtime_error("a ." + extension_ + " file cannot hold the source's " +
                               CodecName(from.codecpar->codec_id) + " audio untouched" + Bracketed(reason) +
                               "; --audio encode encodes it, --audio none leaves it out");
    if (copyable) {
      addCopy(from);
      continue;
    }
    addEncoder(from, output, video);
    encoded += std::string(encoded.empty() ? "" : ", ") + "stream " + std::to_string(i) + " (" +
               CodecName(from.codecpar->codec_id) + ") as " +
               CodecName(routes_[i].encoder->stream().codecpar->codec_id);
  }
  if (encoded.empty()) return;
  note_ = "audio: encoded " + encoded +
          (choice == AudioChoice::Encode ? "" : ", since a ." + extension_ + " file cannot hold it untouched");
}

AudioOutput::~AudioOutput() = default;

void AudioOutput::addCopy(const AVStream& from) {
  AVStream* to = avformat_new_stream(output_, nullptr);
  if (to == nullptr) throw std::bad_alloc();
  avcodec_parameters_copy(to->codecpar, from.codecpar);
  to->codecpar->codec_tag = 0;
  to->time_base = from.time_base;
  to->disposition = from.disposition;
  av_dict_copy(&to->metadata, from.metadata, 0);
  routes_[from.index].copyTo = to;
}

void AudioOutput::addEncoder(const AVStream& from, AVFormatContext& output, const ProbedStream& video) {
  const AVCodecID target = UsualCodec(*output.oformat, *from.codecpar);
  auto encoder = std::make_unique<AudioEncoder>(from, target, output);
  const AVStream& to = encoder->stream();
  std::string reason;
  if (!MuxerAccepts(output.oformat, {video, {to.codecpar, to.time_base, {0, 1}}}, &reason))
    throw std::runtime_error("a ." + extension_ + " file cannot hold " + CodecName(target) + " audio at " +
                             std::to_string(to.codecpar->sample_rate) + " Hz, made from the source's " +
                             CodecName(from.codecpar->codec_id) + " audio" + Bracketed(reason));
  routes_[from.index].encoder = std::move(encoder);
}

void AudioOutput::setSpan(double start, double end) {
  start_ = start;
  end_ = end;
  for (Route& route : routes_) {
    if (!route.encoder) continue;
    const int rate = route.encoder->stream().codecpar->sample_rate;
    const std::int64_t last =
        end >= 1e299 ? std::numeric_limits<std::int64_t>::max() : static_cast<std::int64_t>(std::llround(end * rate));
    route.encoder->setSpan(std::llround(start * rate), last);
  }
}

void AudioOutput::take(const AVPacket& packet, const PacketSink& sink) {
  if (packet.stream_index < 0 || static_cast<std::size_t>(packet.stream_index) >= routes_.size()) return;
  const Route& route = routes_[packet.stream_index];
  if (route.encoder) route.encoder->send(packet, sink);
  else if (route.copyTo != nullptr) copy(packet, route, sink);
}

// A copied packet is kept when it starts inside the span and most of it
// lies before the end: then the audio stays in sync to the sample and its
// length is the pictures' to within a packet. PCM is cut to the sample.
void AudioOutput::copy(const AVPacket& packet, const Route& route, const PacketSink& sink) const {
  const AVStream& from = *source_->streams[packet.stream_index];
  const AVRational base = from.time_base;
  PacketPtr out = NewPacket();
  if (av_packet_ref(out.get(), &packet) < 0) throw std::bad_alloc();
  const std::int64_t stamp = packet.pts != AV_NOPTS_VALUE ? packet.pts : packet.dts;
  if (stamp != AV_NOPTS_VALUE) {
    const int frameBytes = PcmFrameBytes(*from.codecpar);
    if (frameBytes > 0 && packet.size % frameBytes == 0) {
      const AVRational perSample{1, from.codecpar->sample_rate};
      const std::int64_t first = av_rescale_q(stamp, base, perSample);
      const std::int64_t begin = std::max(first, static_cast<std::int64_t>(std::llround(start_ * perSample.den)));
      const std::int64_t end = std::min<std::int64_t>(
          first + packet.size / frameBytes,
          end_ >= 1e299 ? std::numeric_limits<std::int64_t>::max() : std::llround(end_ * perSample.den));
      if (end <= begin) return;
      out->data += (begin - first) * frameBytes;
      out->size = static_cast<int>((end - begin) * frameBytes);
      out->pts = out->dts = av_rescale_q(begin, perSample, base);
      out->duration = av_rescale_q(end - begin, perSample, base);
    } else {
      const double seconds = stamp * av_q2d(base), length = packet.duration * av_q2d(base);
      if (seconds < start_ - 1e-9 || seconds + length / 2 >= end_) return;
    }
  }
  const std::int64_t shift = std::llround(start_ / av_q2d(base));
  if (out->pts != AV_NOPTS_VALUE) out->pts -= shift;
  if (out->dts != AV_NOPTS_VALUE) out->dts -= shift;
  av_packet_rescale_ts(out.get(), base, route.copyTo->time_base);
  out->stream_index = route.copyTo->index;
  out->pos = -1;
  sink(*out);
}

void AudioOutput::finish(const PacketSink& sink) {
  for (Route& route : routes_)
    if (route.encoder) route.encoder->finish(sink);
}

}  // namespace lenstrove::cli::movie
