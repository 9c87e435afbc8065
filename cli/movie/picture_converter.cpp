#include "picture_converter.h"

#include <stdexcept>

#include "changed_tiles.h"
#include "movie_reader.h"

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace lenstrove::cli::movie {
namespace {

// Same size: chroma is repeated (in) and picked (out), which undoes itself.
constexpr int kRoundTripFlags = SWS_POINT | SWS_FULL_CHR_H_INP;
// Same size, RGB kept: exact rounding, chroma interpolated and filtered.
constexpr int kSmoothFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;
// Fitting to another size: Lanczos, sharp without visible ringing.
constexpr int kScaleFlags = SWS_LANCZOS | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;

// Tiles compared and converted on their own: small enough that a guide
// line costs little, large enough that a frame of changes costs few calls.
constexpr int kTileWidth = 32;
constexpr int kBandHeight = 16;
// Conversions kept for runs of tiles, by size; guides give the same few
// sizes frame after frame.
constexpr std::size_t kTileContextsKept = 16;

int Flags(ChromaStyle style, bool scaling) {
  if (scaling) return kScaleFlags;
  return style == ChromaStyle::RoundTrip ? kRoundTripFlags : kSmoothFlags;
}

bool IsRgb(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d != nullptr && (d->flags & AV_PIX_FMT_FLAG_RGB);
}

// Untagged YUV is taken as limited range, as players take it.
int FullRange(AVPixelFormat format, AVColorRange range) {
  return IsRgb(format) || range == AVCOL_RANGE_JPEG ? 1 : 0;
}

// sws_getCoefficients falls back to BT.601 for matrices it does not know,
// including "unspecified": players do the same.
const int* Coefficients(AVColorSpace matrix) { return sws_getCoefficients(static_cast<int>(matrix)); }

template <typename T>
T* Row(const AVFrame& frame, int plane, int row) {
  return reinterpret_cast<T*>(frame.data[plane] + static_cast<std::ptrdiff_t>(frame.linesize[plane]) * row);
}

// Planar G, B, R (and A) rows into RGBA pixels, and back. Plain loops over
// a row, which the compiler turns into vector code.
void InterleaveRow(const float* g, const float* b, const float* r, float* out, int width) {
  for (int x = 0; x < width; ++x) {
    out[4 * x] = r[x];
    out[4 * x + 1] = g[x];
    out[4 * x + 2] = b[x];
    out[4 * x + 3] = 1.0f;
  }
}

void InterleaveRow(const float* g, const float* b, const float* r, const float* a, float* out, int width) {
  for (int x = 0; x < width; ++x) {
    out[4 * x] = r[x];
    out[4 * x + 1] = g[x];
    out[4 * x + 2] = b[x];
    out[4 * x + 3] = a[x];
  }
}

// 0..1, with NaN as 0 and infinities at the ends.
inline float Clamped(float v) { return v > 0.0f ? (v < 1.0f ? v : 1.0f) : 0.0f; }

void DeinterleaveRow(const float* in, float* g, float* b, float* r, float* a, int width) {
  for (int x = 0; x < width; ++x) {
    r[x] = Clamped(in[4 * x]);
    g[x] = Clamped(in[4 * x + 1]);
    b[x] = Clamped(in[4 * x + 2]);
  }
  if (a != nullptr)
    for (int x = 0; x < width; ++x) a[x] = Clamped(in[4 * x + 3]);
}

}  // namespace

PictureConverter::~PictureConverter() {
  sws_freeContext(in_.context);
  sws_freeContext(out_.context);
  for (Direction& d : tiles_) sws_freeContext(d.context);
}

SwsContext* PictureConverter::prepare(Direction& d, const Conversion& c) {
  if (d.context != nullptr && d.conversion == c) return d.context;
  sws_freeContext(d.context);
  d.conversion = c;
  d.context = sws_getContext(c.fromWidth, c.fromHeight, c.from, c.toWidth, c.toHeight, c.to, c.flags, nullptr, nullptr,
                             nullptr);
  if (d.context == nullptr)
    throw std::runtime_error(std::string("no conversion between the pixel formats ") + av_get_pix_fmt_name(c.from) +
                             " and " + av_get_pix_fmt_name(c.to));
  const bool toRgb = IsRgb(c.to);
  const int movieRange = FullRange(toRgb ? c.from : c.to, c.tags.range);
  const int* table = Coefficients(c.tags.matrix);
  sws_setColorspaceDetails(d.context, table, toRgb ? movieRange : 1, table, toRgb ? 1 : movieRange, 0, 1 << 16,
                           1 << 16);
  return d.context;
}

AVFrame& PictureConverter::Planar(FramePtr& kept, int width, int height, AVPixelFormat format) {
  if (!kept || kept->width != width || kept->height != height || kept->format != format) {
    kept = NewFrame();
    kept->width = width;
    kept->height = height;
    kept->format = format;
    if (av_frame_get_buffer(kept.get(), 0) < 0) throw std::bad_alloc();
  }
  return *kept;
}

void PictureConverter::toRgba(const AVFrame& frame, RgbaImage& image, ColourTags tags, ChromaStyle style) {
  const AVPixelFormat from = static_cast<AVPixelFormat>(frame.format);
  const int flags = Flags(style, frame.width != image.width || frame.height != image.height);
  if (image.depth == PixelDepth::Byte) {
    SwsContext* sws =
        prepare(in_, {frame.width, frame.height, from, image.width, image.height, AV_PIX_FMT_RGBA, tags, flags});
    uint8_t* planes[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.rowBytes()), 0, 0, 0};
    sws_scale(sws, frame.data, frame.linesize, 0, frame.height, planes, strides);
    return;
  }
  const bool alpha = HasAlpha(from);
  const AVPixelFormat wide = alpha ? AV_PIX_FMT_GBRAPF32 : AV_PIX_FMT_GBRPF32;
  AVFrame& rgb = Planar(planarIn_, image.width, image.height, wide);
  SwsContext* sws = prepare(in_, {frame.width, frame.height, from, image.width, image.height, wide, tags, flags});
  sws_scale(sws, frame.data, frame.linesize, 0, frame.height, rgb.data, rgb.linesize);
  for (int y = 0; y < image.height; ++y) {
    float* out = reinterpret_cast<float*>(image.fileRow(y));
    if (alpha)
      InterleaveRow(Row<float>(rgb, 0, y), Row<float>(rgb, 1, y), Row<float>(rgb, 2, y), Row<float>(rgb, 3, y), out,
                    image.width);
    else
      InterleaveRow(Row<float>(rgb, 0, y), Row<float>(rgb, 1, y), Row<float>(rgb, 2, y), out, image.width);
  }
}

void PictureConverter::fromRgba(const RgbaImage& image, AVFrame& frame, ColourTags tags, ChromaStyle style) {
  const AVPixelFormat to = static_cast<AVPixelFormat>(frame.format);
  const int flags = Flags(style, false);
  if (image.depth == PixelDepth::Byte) {
    SwsContext* sws =
        prepare(out_, {image.width, image.height, AV_PIX_FMT_RGBA, frame.width, frame.height, to, tags, flags});
    const uint8_t* planes[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.rowBytes()), 0, 0, 0};
    sws_scale(sws, planes, strides, 0, image.height, frame.data, frame.linesize);
    return;
  }
  const bool alpha = HasAlpha(to);
  const AVPixelFormat wide = alpha ? AV_PIX_FMT_GBRAPF32 : AV_PIX_FMT_GBRPF32;
  AVFrame& rgb = Planar(planarOut_, image.width, image.height, wide);
  for (int y = 0; y < image.height; ++y)
    DeinterleaveRow(reinterpret_cast<const float*>(image.fileRow(y)), Row<float>(rgb, 0, y), Row<float>(rgb, 1, y),
                    Row<float>(rgb, 2, y), alpha ? Row<float>(rgb, 3, y) : nullptr, image.width);
  SwsContext* sws = prepare(out_, {image.width, image.height, wide, frame.width, frame.height, to, tags, flags});
  sws_scale(sws, rgb.data, rgb.linesize, 0, image.height, frame.data, frame.linesize);
}

SwsContext* PictureConverter::tileContext(int width, int height, AVPixelFormat from, AVPixelFormat to,
                                          ColourTags tags) {
  const Conversion conversion{width, height, from, width, height, to, tags, kRoundTripFlags};
  for (Direction& d : tiles_)
    if (d.conversion == conversion) return d.context;
  if (tiles_.size() >= kTileContextsKept) {
    sws_freeContext(tiles_.front().context);
    tiles_.erase(tiles_.begin());
  }
  tiles_.emplace_back();
  return prepare(tiles_.back(), conversion);
}

void PictureConverter::convertRun(const RgbaImage& image, const TileRun& run, AVFrame& frame, ColourTags tags) {
  const AVPixelFormat to = static_cast<AVPixelFormat>(frame.format);
  std::uint8_t* target[4];
  PlanePointers(frame, run.x, run.y, target);
  if (image.depth == PixelDepth::Byte) {
    const uint8_t* planes[4] = {image.fileRow(run.y) + run.x * image.pixelBytes(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.rowBytes()), 0, 0, 0};
    sws_scale(tileContext(run.width, run.height, AV_PIX_FMT_RGBA, to, tags), planes, strides, 0, run.height, target,
              frame.linesize);
    return;
  }
  const bool alpha = HasAlpha(to);
  const AVPixelFormat wide = alpha ? AV_PIX_FMT_GBRAPF32 : AV_PIX_FMT_GBRPF32;
  AVFrame& rgb = Planar(planarTiles_, image.width, kBandHeight, wide);
  for (int y = 0; y < run.height; ++y)
    DeinterleaveRow(reinterpret_cast<const float*>(image.fileRow(run.y + y) + run.x * image.pixelBytes()),
                    Row<float>(rgb, 0, y), Row<float>(rgb, 1, y), Row<float>(rgb, 2, y),
                    alpha ? Row<float>(rgb, 3, y) : nullptr, run.width);
  sws_scale(tileContext(run.width, run.height, wide, to, tags), rgb.data, rgb.linesize, 0, run.height, target,
            frame.linesize);
}

void PictureConverter::writeChangedTiles(const RgbaImage& source, const RgbaImage& output, AVFrame& frame,
                                         ColourTags tags) {
  for (const TileRun& run : ChangedRuns(source, output, kTileWidth, kBandHeight)) convertRun(output, run, frame, tags);
}

}  // namespace lenstrove::cli::movie
