#pragma once

// Whether a container's muxer takes a set of streams, asked of the muxer
// itself: its codec tables are not the whole answer (QuickTime takes FFV1
// under its Video for Windows tag, which no table lists; MXF takes PCM
// only at 48 kHz), so a header is written for the streams into memory and
// the muxer's own answer is taken.

#include <string>
#include <vector>

#include "av_support.h"

namespace lenstrove::cli::movie {

// One stream as the probe sees it: its codec parameters, and for pictures
// the time base and frame rate (MXF counts in frames).
struct ProbedStream {
  const AVCodecParameters* parameters = nullptr;
  AVRational timeBase{1, 48000};
  AVRational frameRate{0, 1};
};

// `reason`, when given, receives the muxer's own words for a refusal
// (empty when it gave none).
bool MuxerAccepts(const AVOutputFormat* container, const std::vector<ProbedStream>& streams,
                  std::string* reason = nullptr);

// A picture stream of this codec, as a muxer sees it before the first
// packet; for asking about a codec before its encoder is set up.
struct PictureStreamStandIn {
  explicit PictureStreamStandIn(AVCodecID codec, int profile = -99);
  ~PictureStreamStandIn();
  PictureStreamStandIn(const PictureStreamStandIn&) = delete;
  PictureStreamStandIn& operator=(const PictureStreamStandIn&) = delete;
  ProbedStream stream() const { return {parameters, {1, 24}, {24, 1}}; }
  AVCodecParameters* parameters;
};

}  // namespace lenstrove::cli::movie
