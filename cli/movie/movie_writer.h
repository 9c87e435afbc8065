#pragma once

// Writing a movie through FFmpeg's libraries: one encoded picture stream
// with the source's rate, time base, pixel aspect, colour tags and start
// timecode (or fitted to a box, in square pixels), plus the source's audio
// streams (see AudioOutput). The file is written under a temporary name and
// renamed when it is complete.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio_output.h"
#include "av_support.h"
#include "codec_table.h"
#include "image/temp_file.h"
#include "interface/arguments.h"
#include "movie_reader.h"
#include "picture_converter.h"

namespace lenstrove::cli::movie {

struct EncoderSettings {
  std::string codec;                   // empty: DefaultCodec
  std::optional<double> quality;       // the codec's own scale (CRF, qscale)
  std::optional<std::int64_t> bitrate; // bits per second
  AudioChoice audio = AudioChoice::Auto;
  std::optional<PictureSize> fit;  // the box the pictures are fitted into
  int threads = 0;                 // the encoder's threads; 0: one per core
};

class MovieWriter {
 public:
  // `picture` describes the source's frames; with a box to fit into, the
  // written frames are smaller or larger (see picture()). `audioFrom`,
  // when given, is the reader whose audio streams are written. Throws
  // std::runtime_error for an unknown container, a codec its muxer does
  // not take, a missing encoder, audio that cannot be written as asked, or
  // an output that cannot be created.
  MovieWriter(const std::string& path, const PictureProperties& picture, PixelDepth depth, bool alpha,
              const EncoderSettings& settings, const MovieReader* audioFrom, AVCodecID sourceCodec, int sourceProfile);
  ~MovieWriter();
  MovieWriter(const MovieWriter&) = delete;
  MovieWriter& operator=(const MovieWriter&) = delete;

  // The frames written: size, pixel aspect and the rest.
  const PictureProperties& picture() const { return picture_; }
  // The pixel format frames must come in.
  AVPixelFormat pixelFormat() const { return format_; }
  // The YUV matrix and range the frames are converted with.
  ColourTags tags() const { return {encoder_->colorspace, encoder_->color_range}; }
  const char* codecName() const { return choice_->name; }
  // What became of the audio, for a note; empty when it was copied as it is.
  std::string audioNote() const { return audio_ ? audio_->note() : ""; }

  // A frame for writeFrame, of the written size and format, whose memory
  // comes back for another frame when it is released. Any thread.
  FramePtr makeFrame();

  // Encodes one picture; `pts` is in the source's time base, counted from
  // the first written frame. Frames must come in order.
  void writeFrame(AVFrame& frame, std::int64_t pts);

  // The span of the source's time the pictures cover, in seconds (see
  // AudioOutput::setSpan), then every packet of the source for the audio.
  // takeAudio is safe to call on another thread than writeFrame.
  void setAudioSpan(double start, double end);
  void takeAudio(const AVPacket& packet);

  // Drains the encoder, finishes the container and renames the file into
  // place.
  void finish();

 private:
  void open(const std::string& path, const PictureProperties& picture, PixelDepth depth, bool alpha,
            const EncoderSettings& settings, const MovieReader* audioFrom, AVCodecID sourceCodec, int sourceProfile);
  void closeContainer();
  void openEncoder(const PictureProperties& picture, const EncoderSettings& settings, PixelDepth depth, bool alpha);
  void checkContainerTakes(const std::string& path) const;
  void drainEncoder();
  void writePacket(AVPacket& packet);

  std::string path_;
  TempFile temp_;
  const CodecChoice* choice_ = nullptr;
  AVFormatContext* container_ = nullptr;
  CodecContextPtr encoder_;
  AVStream* video_ = nullptr;
  AVPixelFormat format_ = AV_PIX_FMT_NONE;
  PictureProperties picture_;
  std::unique_ptr<AudioOutput> audio_;
  AVBufferPool* framePool_ = nullptr;
  std::mutex muxMutex_;
  PacketPtr packet_;
  std::int64_t frameDuration_ = 1;  // in the encoder's time base
  AVRational sourceTimeBase_{1, 1};
  bool headerWritten_ = false;
};

}  // namespace lenstrove::cli::movie
