#pragma once

// The codecs a movie can be written with, as named after --codec, and the
// one chosen when none is named.

#include <string>
#include <vector>

#include "av_support.h"

namespace lenstrove::cli::movie {

enum class QualityKnob { None, ConstantRateFactor, QuantiserScale };

struct CodecChoice {
  const char* name;      // as typed: "prores_hq"
  const char* encoder;   // the libavcodec encoder
  const char* profile;   // the encoder's profile option, or null
  AVCodecID id;
  int sourceProfile;     // the decoder's profile that maps back to this choice, or -1
  AVPixelFormat format;  // the samples the codec is fed: 4:2:2, 4:4:4 or 4:2:0
  AVPixelFormat deepFormat;   // for float renders, when the codec stores more than 8 bits
  AVPixelFormat alphaFormat;  // for pictures with alpha, when the codec keeps it
  QualityKnob quality;
  const char* description;
};

const std::vector<CodecChoice>& Codecs();

// Throws std::runtime_error listing the names when `name` is not one.
const CodecChoice& FindCodec(const std::string& name);

// With no --codec: the input movie's own codec when it is one of the
// table's, else the usual one for the container (ProRes HQ for .mov,
// DNxHR HQ for .mxf, H.264 for .mp4, FFV1 for the rest).
const CodecChoice& DefaultCodec(const std::string& outputPath, AVCodecID inputCodec, int inputProfile);

// "prores_proxy, prores_lt, ..." for help and error text.
std::string CodecNames();

}  // namespace lenstrove::cli::movie
