#pragma once

// Reading movies back in the movie tests, through FFmpeg's libraries and
// independently of the command's own reader, and making clips with
// Debian's ffmpeg program.

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace lenstrove::cli::testing {

struct StreamFacts {
  AVMediaType type = AVMEDIA_TYPE_UNKNOWN;
  AVCodecID codec = AV_CODEC_ID_NONE;
  int width = 0, height = 0;             // pictures
  int sampleRate = 0, channels = 0;      // audio
};

struct MovieFacts {
  int videoPackets = 0;
  AVRational rate{0, 1}, timeBase{0, 1}, aspect{0, 1};
  AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
  AVColorTransferCharacteristic transfer = AVCOL_TRC_UNSPECIFIED;
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVCodecID codec = AV_CODEC_ID_NONE;
  int profile = -1;
  int width = 0, height = 0;
  std::string timecode;
  std::string format;      // the demuxer's name
  std::string operationalPattern;  // MXF's, as the demuxer labels it
  std::vector<StreamFacts> streams;
  std::string audioBytes;  // every audio packet's payload, in file order
};

struct Picture {
  AVPixelFormat format = AV_PIX_FMT_NONE;
  int width = 0, height = 0;
  std::int64_t pts = 0;
  double seconds = 0.0;             // where the picture is shown
  std::vector<std::uint8_t> bytes;  // the planes one after another, no padding

  // Red, green or blue (0, 1, 2) of pixel i of an 8-bit RGB picture,
  // packed or planar, wherever its format keeps it.
  int rgb(std::size_t i, int channel) const;
};

// One audio stream decoded: its first channel as floats, from where the
// file places its first sample.
struct Sound {
  int sampleRate = 0, channels = 0;
  double startSeconds = 0.0;
  std::vector<float> samples;
  double seconds() const { return sampleRate > 0 ? samples.size() / static_cast<double>(sampleRate) : 0.0; }
  // Where the first sample louder than `level` lies, in seconds of the file.
  double onset(float level) const;
};

MovieFacts ReadFacts(const std::string& path);
std::vector<Picture> DecodePictures(const std::string& path);
// The `index`-th audio stream (0 for the first).
Sound DecodeSound(const std::string& path, int index = 0);

// Runs Debian's ffmpeg program quietly; fails the test if it fails.
void Ffmpeg(const std::string& arguments);

}  // namespace lenstrove::cli::testing
