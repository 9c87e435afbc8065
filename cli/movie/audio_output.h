#pragma once

// The audio of an output movie: every audio stream of the source, copied
// packet for packet where the container's muxer takes it untouched and
// otherwise (or when asked) encoded to the container's usual codec; or
// left out. Either way each stream is cut to the span of the source that
// the pictures cover, so the audio stays in sync with them.

#include <memory>
#include <string>
#include <vector>

#include "audio_encoder.h"
#include "interface/arguments.h"
#include "muxer_probe.h"

namespace lenstrove::cli::movie {

class MovieReader;

class AudioOutput {
 public:
  // Adds the output streams to `output` (before its header is written).
  // `video` is the picture stream, which muxers judge together with the
  // audio. Throws std::runtime_error with one line when a stream cannot be
  // written as `choice` asks.
  AudioOutput(const MovieReader& source, AVFormatContext& output, const ProbedStream& video, AudioChoice choice);
  ~AudioOutput();

  // What was done, for a note to the user; empty when every stream was
  // copied untouched (or there was none).
  const std::string& note() const { return note_; }

  // The span of the source written, in seconds of its own time: what lies
  // before `start` is left out and the rest moves back by `start`; what
  // lies from `end` on is left out.
  void setSpan(double start, double end);

  // A packet of any of the source's streams, in file order; those of
  // other streams are ignored.
  void take(const AVPacket& packet, const PacketSink& sink);
  // Encodes what the encoders still hold.
  void finish(const PacketSink& sink);

 private:
  struct Route;
  void addCopy(const AVStream& from);
  void addEncoder(const AVStream& from, AVFormatContext& output, const ProbedStream& video);
  void copy(const AVPacket& packet, const Route& route, const PacketSink& sink) const;

  const AVFormatContext* source_;
  std::string extension_;
  AVFormatContext* output_;
  std::vector<Route> routes_;  // one per stream of the source
  double start_ = 0.0, end_ = 1e300;
  std::string note_;
};

}  // namespace lenstrove::cli::movie
