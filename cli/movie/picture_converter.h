#pragma once

// Between a movie's pictures (any pixel format FFmpeg knows, YUV or RGB)
// and the RGBA pictures the plug-in renders, through libswscale, scaling on
// the way in when the picture is fitted to another size. The YUV matrix and
// range come from the movie's colour tags, so a picture goes out with the
// same tags it came in with.
//
// Every frame of a movie is converted the same way, so each direction keeps
// its own conversion context and scratch picture from frame to frame: a
// frame costs the conversion and nothing else. One converter per thread.

#include <vector>

#include "av_support.h"
#include "changed_tiles.h"
#include "image/image_file.h"

struct SwsContext;

namespace lenstrove::cli::movie {

struct ColourTags {
  AVColorSpace matrix = AVCOL_SPC_UNSPECIFIED;
  AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
  bool operator==(const ColourTags& o) const { return matrix == o.matrix && range == o.range; }
};

// How chroma is carried. RoundTrip, for a movie rendered into a movie:
// chroma samples are repeated on the way in and picked on the way out, so
// pixels the plug-in leaves alone come back as they were (exactly, for
// sources deeper than 8 bits). Smooth, for pictures that stay RGB (a
// movie to stills, stills to a movie): chroma is interpolated and filtered.
enum class ChromaStyle { RoundTrip, Smooth };

class PictureConverter {
 public:
  PictureConverter() = default;
  ~PictureConverter();
  PictureConverter(const PictureConverter&) = delete;
  PictureConverter& operator=(const PictureConverter&) = delete;

  // Fills `image`, already sized, from `frame`, scaled to the image's size
  // when it differs (Lanczos). Byte pictures hold 8-bit RGBA; float
  // pictures hold the movie's values scaled to 0..1.
  void toRgba(const AVFrame& frame, RgbaImage& image, ColourTags tags, ChromaStyle style);
  // Fills `frame`, whose buffers and format are set and whose size is the
  // image's. Float values are clamped to 0..1; NaN becomes 0.
  void fromRgba(const RgbaImage& image, AVFrame& frame, ColourTags tags, ChromaStyle style);
  // For a `frame` that holds the samples `source` was converted from: the
  // tiles where `output` differs from `source` are converted into it
  // (RoundTrip chroma), the rest is left as it is, bit for bit. The frame
  // has the pictures' size and a format TilesCanBeWritten.
  void writeChangedTiles(const RgbaImage& source, const RgbaImage& output, AVFrame& frame, ColourTags tags);

 private:
  // What a conversion goes from and to.
  struct Conversion {
    int fromWidth = 0, fromHeight = 0;
    AVPixelFormat from = AV_PIX_FMT_NONE;
    int toWidth = 0, toHeight = 0;
    AVPixelFormat to = AV_PIX_FMT_NONE;
    ColourTags tags;
    int flags = 0;
    bool operator==(const Conversion& o) const {
      return fromWidth == o.fromWidth && fromHeight == o.fromHeight && from == o.from && toWidth == o.toWidth &&
             toHeight == o.toHeight && to == o.to && tags == o.tags && flags == o.flags;
    }
  };
  // A conversion kept from frame to frame.
  struct Direction {
    SwsContext* context = nullptr;
    Conversion conversion;
  };
  static SwsContext* prepare(Direction& direction, const Conversion& conversion);
  static AVFrame& Planar(FramePtr& kept, int width, int height, AVPixelFormat format);
  SwsContext* tileContext(int width, int height, AVPixelFormat from, AVPixelFormat to, ColourTags tags);
  void convertRun(const RgbaImage& image, const TileRun& run, AVFrame& frame, ColourTags tags);

  Direction in_, out_;
  std::vector<Direction> tiles_;  // by size, for the runs of changed tiles
  // Float pictures pass through planar float RGB(A), the widest format
  // libswscale converts to and from at full speed.
  FramePtr planarIn_, planarOut_, planarTiles_;
};

}  // namespace lenstrove::cli::movie
