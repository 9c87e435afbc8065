#pragma once

// Between a movie's pictures (any pixel format FFmpeg knows, YUV or RGB)
// and the RGBA pictures the plug-in renders, through libswscale. The YUV
// matrix and range come from the movie's colour tags, so a picture goes
// out with the same tags it came in with. One converter per thread.

#include "av_support.h"
#include "image_file.h"

struct SwsContext;

namespace lenstrove::cli::movie {

struct ColourTags {
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

class PictureConverter {
 public:
  PictureConverter() = default;
  ~PictureConverter();
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;

  // Byte pictures hold 8-bit RGBA; float pictures hold the movie's values
  // scaled to 0..1 (through 16 bits, more than any movie codec stores).
  RgbaImage toRgba(const AVFrame& frame, PixelDepth depth, ColourTags tags);
  FramePtr fromRgba(const RgbaImage& image, AVPixelFormat format, ColourTags tags);

 private:
  SwsContext* prepare(int width, int height, AVPixelFormat from, AVPixelFormat to, ColourTags tags, bool toRgb);

  SwsContext* context_ = nullptr;
  std::vector<std::uint16_t> wide_;  // 16-bit RGBA between float and the movie
};

}  // namespace lenstrove::cli::movie
