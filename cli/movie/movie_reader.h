#pragma once

// Reading a movie's pictures, in presentation order, through FFmpeg's
// libraries. Packets of the other streams (audio) are handed to a callback
// as they are read, for the output's audio.

#include <cstdint>
#include <functional>
#include <string>

#include "av_support.h"
#include "image/image_file.h"

namespace lenstrove::cli::movie {

// What a written movie keeps of its source.
struct PictureProperties {
  int width = 0;
  int height = 0;
  AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
  AVRational frameRate{0, 1};
  AVRational timeBase{0, 1};
  AVRational sampleAspect{0, 1};
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  std::string timecode;  // of the first frame, "01:00:00:00"; empty if none
};

// Byte for pictures of 8 bits or fewer per sample, float for deeper and
// floating-point ones.
PixelDepth NaturalDepth(AVPixelFormat format);
bool HasAlpha(AVPixelFormat format);

class MovieReader {
 public:
  // Opens the file and its first video stream's decoder. Throws
  // std::runtime_error naming the file when it cannot be read, holds no
  // video stream, or its codec has no decoder here. `threads` is the
  // decoder's (0: one per core).
  explicit MovieReader(const std::string& path, int threads = 0);
  ~MovieReader();
  MovieReader(const MovieReader&) = delete;
  MovieReader& operator=(const MovieReader&) = delete;

  const PictureProperties& properties() const { return properties_; }
  AVFormatContext* container() const { return container_; }
  int videoStream() const { return videoStream_; }
  AVCodecID codec() const;
  int profile() const;
  // The frame count the header promises; 0 when it does not say.
  std::int64_t expectedFrames() const { return expectedFrames_; }

  // Packets of every stream but the picture go here while reading.
  void onOtherPacket(std::function<void(AVPacket&)> sink) { otherPacket_ = std::move(sink); }

  // The next picture, or null after the last. Frames are numbered from 0
  // in the order they are returned. Throws when a packet cannot be read or
  // a picture cannot be decoded, and at the end when fewer pictures came
  // out than the header promised.
  FramePtr nextFrame();
  std::int64_t framesRead() const { return framesRead_; }

  // Reads the remaining packets for the callback without decoding
  // pictures, until the end or until a packet lies past `seconds`.
  void drainOtherPackets(double seconds);

 private:
  void open(const std::string& path, int threads);
  bool receiveFrame(FramePtr& frame);
  void checkFrame(const AVFrame& frame) const;
  void checkComplete() const;

  std::string path_;
  AVFormatContext* container_ = nullptr;
  CodecContextPtr decoder_;
  int videoStream_ = -1;
  PictureProperties properties_;
  std::int64_t expectedFrames_ = 0;
  std::int64_t framesRead_ = 0;
  bool flushed_ = false;
  bool finished_ = false;
  std::function<void(AVPacket&)> otherPacket_;
};

}  // namespace lenstrove::cli::movie
