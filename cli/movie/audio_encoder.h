#pragma once

// One audio stream of a source movie decoded, cut to a span of samples and
// encoded again, for containers that cannot hold it as it is (PCM in .mp4)
// or when asked to. The sample rate and channel layout stay; libswresample
// converts the samples to the encoder's format only.

#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "av_support.h"

struct SwrContext;
struct AVAudioFifo;

namespace lenstrove::cli::movie {

// Takes a finished packet for the output container.
using PacketSink = std::function<void(AVPacket&)>;

class AudioEncoder {
 public:
  // Opens a decoder for `source` and a `target` encoder, and adds the
  // encoded stream to `output`. Throws std::runtime_error, in one line
  // naming the stream, when there is no decoder or encoder here or the
  // encoder refuses the stream's rate or channels.
  AudioEncoder(const AVStream& source, AVCodecID target, AVFormatContext& output);
  ~AudioEncoder();
  AudioEncoder(const AudioEncoder&) = delete;
  AudioEncoder& operator=(const AudioEncoder&) = delete;

  const AVStream& stream() const { return *stream_; }

  // Keeps the samples [first, end), counted at the stream's rate from the
  // source's time zero; the first kept one is written at `first`'s place
  // moved to zero.
  void setSpan(std::int64_t first, std::int64_t end);

  // A packet of the source stream, in file order.
  void send(const AVPacket& packet, const PacketSink& sink);
  // Decodes and encodes what the codecs still hold.
  void finish(const PacketSink& sink);

 private:
  void openDecoder(const AVStream& source);
  void openEncoder(const AVStream& source, AVCodecID target, AVFormatContext& output);
  void receiveDecoded(const PacketSink& sink);
  void keep(const AVFrame& decoded);
  void encodeQueued(const PacketSink& sink, bool last);
  void receiveEncoded(const PacketSink& sink);
  [[noreturn]] void fail(const std::string& what, int status) const;

  std::string name_;  // "audio stream 1 (pcm_s24le)", for messages
  CodecContextPtr decoder_, encoder_;
  AVStream* stream_ = nullptr;
  AVRational sourceTimeBase_{1, 1};
  SwrContext* resampler_ = nullptr;
  AVAudioFifo* queue_ = nullptr;  // converted samples waiting for a whole encoder frame
  FramePtr decoded_, converted_;
  PacketPtr packet_;
  std::int64_t first_ = 0;
  std::int64_t end_ = std::numeric_limits<std::int64_t>::max();
  std::int64_t nextSource_ = 0;  // where the next decoded sample sits, when a frame has no time
  std::int64_t nextOutput_ = AV_NOPTS_VALUE;  // the output time of the next queued sample
};

}  // namespace lenstrove::cli::movie
