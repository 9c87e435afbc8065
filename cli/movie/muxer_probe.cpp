#include "muxer_probe.h"

#include <new>

namespace lenstrove::cli::movie {

bool MuxerAccepts(const AVOutputFormat* container, const std::vector<ProbedStream>& streams, std::string* reason) {
  ClearLastLibraryError();
  AVFormatContext* probe = nullptr;
  if (avformat_alloc_output_context2(&probe, container, nullptr, nullptr) < 0 || probe == nullptr) return false;
  bool accepted = avio_open_dyn_buf(&probe->pb) >= 0;
  for (const ProbedStream& s : streams) {
    if (!accepted) break;
    AVStream* stream = avformat_new_stream(probe, nullptr);
    accepted = stream != nullptr && avcodec_parameters_copy(stream->codecpar, s.parameters) >= 0;
    if (!accepted) break;
    stream->codecpar->codec_tag = 0;
    stream->time_base = s.timeBase;
    stream->avg_frame_rate = s.frameRate;
    stream->r_frame_rate = s.frameRate;
  }
  if (accepted) accepted = avformat_write_header(probe, nullptr) >= 0;
  if (probe->pb != nullptr) {
    std::uint8_t* written = nullptr;
    avio_close_dyn_buf(probe->pb, &written);
    av_free(written);
    probe->pb = nullptr;
  }
  avformat_free_context(probe);
  if (reason != nullptr) *reason = accepted ? "" : LastLibraryError();
  ClearLastLibraryError();
  return accepted;
}

PictureStreamStandIn::PictureStreamStandIn(AVCodecID codec, int profile) : parameters(avcodec_parameters_alloc()) {
  if (parameters == nullptr) throw std::bad_alloc();
  parameters->codec_type = AVMEDIA_TYPE_VIDEO;
  parameters->codec_id = codec;
  parameters->profile = profile;
  parameters->width = 1920;
  parameters->height = 1080;
  parameters->format = AV_PIX_FMT_YUV422P10;
}

PictureStreamStandIn::~PictureStreamStandIn() { avcodec_parameters_free(&parameters); }

}  // namespace lenstrove::cli::movie
