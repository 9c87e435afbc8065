#include "movie_reading.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

namespace lenstrove::cli::testing {
namespace {

AVFormatContext* Open(const std::string& path) {
  AVFormatContext* container = nullptr;
  if (avformat_open_input(&container, path.c_str(), nullptr, nullptr) < 0) return nullptr;
  avformat_find_stream_info(container, nullptr);
  return container;
}

// Decodes every packet of stream `index`, handing each frame to `take`.
template <typename Take>
bool DecodeStream(AVFormatContext* container, int index, Take take) {
  const AVCodec* codec = avcodec_find_decoder(container->streams[index]->codecpar->codec_id);
  AVCodecContext* decoder = avcodec_alloc_context3(codec);
  avcodec_parameters_to_context(decoder, container->streams[index]->codecpar);
  decoder->pkt_timebase = container->streams[index]->time_base;
  if (avcodec_open2(decoder, codec, nullptr) < 0) {
    avcodec_free_context(&decoder);
    return false;
  }
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  auto drain = [&] {
    while (avcodec_receive_frame(decoder, frame) == 0) take(*frame);
  };
  while (av_read_frame(container, packet) >= 0) {
    if (packet->stream_index == index) avcodec_send_packet(decoder, packet);
    av_packet_unref(packet);
    drain();
  }
  avcodec_send_packet(decoder, nullptr);
  drain();
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&decoder);
  return true;
}

}  // namespace

int Picture::rgb(std::size_t i, int channel) const {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  const AVComponentDescriptor& c = d->comp[channel];
  const std::size_t planeSize = static_cast<std::size_t>(width) * height;
  return bytes[c.plane * planeSize + i * c.step + c.offset];
}

double Sound::onset(float level) const {
  for (std::size_t i = 0; i < samples.size(); ++i)
    if (std::fabs(samples[i]) > level) return startSeconds + i / static_cast<double>(sampleRate);
  return -1.0;
}

MovieFacts ReadFacts(const std::string& path) {
  MovieFacts facts;
  AVFormatContext* container = Open(path);
  if (container == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return facts;
  }
  facts.format = container->iformat->name;
  if (const AVDictionaryEntry* e = av_dict_get(container->metadata, "operational_pattern_ul", nullptr, 0))
    facts.operationalPattern = e->value;
  const int video = av_find_best_stream(container, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  AVStream* v = container->streams[video];
  facts.rate = v->avg_frame_rate;
  facts.timeBase = v->time_base;
  facts.aspect = av_guess_sample_aspect_ratio(container, v, nullptr);
  facts.primaries = v->codecpar->color_primaries;
  facts.transfer = v->codecpar->color_trc;
  facts.matrix = v->codecpar->color_space;
  facts.codec = v->codecpar->codec_id;
  facts.profile = v->codecpar->profile;
  facts.width = v->codecpar->width;
  facts.height = v->codecpar->height;
  for (unsigned i = 0; i < container->nb_streams; ++i) {
    const AVCodecParameters& p = *container->streams[i]->codecpar;
    if (p.codec_type == AVMEDIA_TYPE_VIDEO || p.codec_type == AVMEDIA_TYPE_AUDIO)
      facts.streams.push_back({p.codec_type, p.codec_id, p.width, p.height, p.sample_rate, p.ch_layout.nb_channels});
    if (const AVDictionaryEntry* e = av_dict_get(container->streams[i]->metadata, "timecode", nullptr, 0))
      facts.timecode = e->value;
  }
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(container, packet) >= 0) {
    if (packet->stream_index == video) ++facts.videoPackets;
    if (container->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
      facts.audioBytes.append(reinterpret_cast<const char*>(packet->data), packet->size);
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&container);
  return facts;
}

std::vector<Picture> DecodePictures(const std::string& path) {
  std::vector<Picture> pictures;
  AVFormatContext* container = Open(path);
  if (container == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return pictures;
  }
  const int video = av_find_best_stream(container, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  const AVRational base = container->streams[video]->time_base;
  DecodeStream(container, video, [&](const AVFrame& frame) {
    Picture p{static_cast<AVPixelFormat>(frame.format), frame.width, frame.height, frame.best_effort_timestamp,
              frame.best_effort_timestamp * av_q2d(base), {}};
    p.bytes.resize(av_image_get_buffer_size(p.format, p.width, p.height, 1));
    av_image_copy_to_buffer(p.bytes.data(), static_cast<int>(p.bytes.size()), frame.data, frame.linesize, p.format,
                            p.width, p.height, 1);
    pictures.push_back(std::move(p));
  });
  avformat_close_input(&container);
  return pictures;
}

Sound DecodeSound(const std::string& path, int index) {
  Sound sound;
  AVFormatContext* container = Open(path);
  if (container == nullptr) {
    ADD_FAILURE() << "cannot open " << path;
    return sound;
  }
  int stream = -1;
  for (unsigned i = 0, seen = 0; i < container->nb_streams && stream < 0; ++i)
    if (container->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && static_cast<int>(seen++) == index)
      stream = static_cast<int>(i);
  if (stream < 0) {
    ADD_FAILURE() << path << " has no audio stream " << index;
    avformat_close_input(&container);
    return sound;
  }
  const AVRational base = container->streams[stream]->time_base;
  bool first = true;
  DecodeStream(container, stream, [&](const AVFrame& frame) {
    if (first) sound.startSeconds = frame.best_effort_timestamp * av_q2d(base);
    first = false;
    sound.sampleRate = frame.sample_rate;
    sound.channels = frame.ch_layout.nb_channels;
    const AVSampleFormat format = static_cast<AVSampleFormat>(frame.format);
    const bool planar = av_sample_fmt_is_planar(format);
    for (int i = 0; i < frame.nb_samples; ++i) {
      const int at = planar ? i : i * frame.ch_layout.nb_channels;
      double value = 0.0;
      switch (av_get_packed_sample_fmt(format)) {
        case AV_SAMPLE_FMT_S16: value = reinterpret_cast<const int16_t*>(frame.data[0])[at] / 32768.0; break;
        case AV_SAMPLE_FMT_S32: value = reinterpret_cast<const int32_t*>(frame.data[0])[at] / 2147483648.0; break;
        case AV_SAMPLE_FMT_FLT: value = reinterpret_cast<const float*>(frame.data[0])[at]; break;
        default: ADD_FAILURE() << "unexpected sample format " << av_get_sample_fmt_name(format); return;
      }
      sound.samples.push_back(static_cast<float>(value));
    }
  });
  avformat_close_input(&container);
  return sound;
}

void Ffmpeg(const std::string& arguments) {
  const std::string command = "ffmpeg -nostdin -v error -y " + arguments;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

}  // namespace lenstrove::cli::testing
