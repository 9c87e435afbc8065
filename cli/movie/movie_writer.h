#pragma once

// Writing a movie through FFmpeg's libraries: one encoded picture stream
// with the source's rate, time base, pixel aspect, colour tags and start
// timecode, plus the source's audio streams copied packet for packet. The
// file is written under a temporary name and renamed when it is complete.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "av_support.h"
#include "codec_table.h"
#include "movie_reader.h"
#include "picture_converter.h"
#include "temp_file.h"

namespace lenstrove::cli::movie {

struct EncoderSettings {
  std::string codec;                   // empty: DefaultCodec
  std::optional<double> quality;       // the codec's own scale (CRF, qscale)
  std::optional<std::int64_t> bitrate; // bits per second
};

class MovieWriter {
 public:
  // `picture` describes the frames to come; `audioFrom`, when given, is
  // the reader whose other streams are copied. Throws std::runtime_error
  // for an unknown container, a codec it cannot hold, a missing encoder
  // or an output that cannot be created.
  MovieWriter(const std::string& path, const PictureProperties& picture, PixelDepth depth, bool alpha,
              const EncoderSettings& settings, const MovieReader* audioFrom, AVCodecID sourceCodec, int sourceProfile);
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // The pixel format frames must come in.
  AVPixelFormat pixelFormat() const { return format_; }
  // The YUV matrix and range the frames are converted with.
  ColourTags tags() const { return {encoder_->colorspace, encoder_->color_range}; }
  const char* codecName() const { return choice_->name; }

  // Encodes one picture; `pts` is in the source's time base, counted from
  // the first written frame. Frames must come in order.
  void writeFrame(AVFrame& frame, std::int64_t pts);
  // Copies a packet of the source's audio stream, whose timestamps are
  // shifted back by `shiftSeconds` (the start of the frames written).
  // Safe to call from another thread than writeFrame.
  void copyPacket(AVPacket& packet, double shiftSeconds, double endSeconds);

  // Drains the encoder, finishes the container and renames the file into
  // place.
  void finish();

 private:
  void open(const std::string& path, const PictureProperties& picture, PixelDepth depth, bool alpha,
            const EncoderSettings& settings, const MovieReader* audioFrom, AVCodecID sourceCodec, int sourceProfile);
  void closeContainer();
  void openEncoder(const PictureProperties& picture, const EncoderSettings& settings, PixelDepth depth, bool alpha);
  void addAudioStreams(const MovieReader& source);
  void drainEncoder();
  void writePacket(AVPacket& packet);

  std::string path_;
  TempFile temp_;
  const CodecChoice* choice_ = nullptr;
  AVFormatContext* container_ = nullptr;
  CodecContextPtr encoder_;
  AVStream* video_ = nullptr;
  AVPixelFormat format_ = AV_PIX_FMT_NONE;
  std::vector<int> audioStreamMap_;  // source stream index -> output index, or -1
  const MovieReader* source_ = nullptr;
  std::mutex muxMutex_;
  PacketPtr packet_;
  std::int64_t frameDuration_ = 1;  // in the encoder's time base
  AVRational sourceTimeBase_{1, 1};
  bool headerWritten_ = false;
};

}  // namespace lenstrove::cli::movie
