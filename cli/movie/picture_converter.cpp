#include "picture_converter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace lenstrove::cli::movie {
namespace {

// Exact rounding and no approximations; no scaling happens, so the filter
// only decides how chroma is spread over and gathered from the pixels.
constexpr int kScaleFlags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_BITEXACT | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP;

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

}  // namespace

PictureConverter::~PictureConverter() { sws_freeContext(context_); }

SwsContext* PictureConverter::prepare(int width, int height, AVPixelFormat from, AVPixelFormat to, ColourTags tags,
                                      bool toRgb) {
  context_ = sws_getCachedContext(context_, width, height, from, width, height, to, kScaleFlags, nullptr, nullptr,
                                  nullptr);
  if (context_ == nullptr)
    throw std::runtime_error(std::string("no conversion between the pixel formats ") + av_get_pix_fmt_name(from) +
                             " and " + av_get_pix_fmt_name(to));
  const AVPixelFormat movieFormat = toRgb ? from : to;
  const int movieRange = FullRange(movieFormat, tags.range);
  const int* table = Coefficients(tags.matrix);
  sws_setColorspaceDetails(context_, table, toRgb ? movieRange : 1, table, toRgb ? 1 : movieRange, 0, 1 << 16,
                           1 << 16);
  return context_;
}

RgbaImage PictureConverter::toRgba(const AVFrame& frame, PixelDepth depth, ColourTags tags) {
  RgbaImage image(frame.width, frame.height, depth);
  const AVPixelFormat from = static_cast<AVPixelFormat>(frame.format);
  if (depth == PixelDepth::Byte) {
    SwsContext* sws = prepare(frame.width, frame.height, from, AV_PIX_FMT_RGBA, tags, true);
    uint8_t* planes[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
    int strides[4] = {static_cast<int>(image.rowBytes()), 0, 0, 0};
    sws_scale(sws, frame.data, frame.linesize, 0, frame.height, planes, strides);
    return image;
  }
  const std::size_t samples = static_cast<std::size_t>(frame.width) * frame.height * 4;
  wide_.resize(samples);
  SwsContext* sws = prepare(frame.width, frame.height, from, AV_PIX_FMT_RGBA64, tags, true);
  uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(wide_.data()), nullptr, nullptr, nullptr};
  int strides[4] = {frame.width * 8, 0, 0, 0};
  sws_scale(sws, frame.data, frame.linesize, 0, frame.height, planes, strides);
  float* out = reinterpret_cast<float*>(image.pixels.data());
  for (std::size_t i = 0; i < samples; ++i) out[i] = static_cast<float>(wide_[i]) / 65535.0f;
  return image;
}

FramePtr PictureConverter::fromRgba(const RgbaImage& image, AVPixelFormat format, ColourTags tags) {
  FramePtr frame = NewFrame();
  frame->width = image.width;
  frame->height = image.height;
  frame->format = format;
  if (av_frame_get_buffer(frame.get(), 0) < 0) throw std::bad_alloc();
  const uint8_t* planes[4] = {image.pixels.data(), nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(image.rowBytes()), 0, 0, 0};
  AVPixelFormat from = AV_PIX_FMT_RGBA;
  if (image.depth == PixelDepth::Float) {
    const std::size_t samples = static_cast<std::size_t>(image.width) * image.height * 4;
    wide_.resize(samples);
    const float* in = reinterpret_cast<const float*>(image.pixels.data());
    for (std::size_t i = 0; i < samples; ++i) {
      const float v = std::isnan(in[i]) ? 0.0f : std::clamp(in[i], 0.0f, 1.0f);
      wide_[i] = static_cast<std::uint16_t>(v * 65535.0f + 0.5f);
    }
    planes[0] = reinterpret_cast<const uint8_t*>(wide_.data());
    strides[0] = image.width * 8;
    from = AV_PIX_FMT_RGBA64;
  }
  SwsContext* sws = prepare(image.width, image.height, from, format, tags, false);
  sws_scale(sws, planes, strides, 0, image.height, frame->data, frame->linesize);
  return frame;
}

}  // namespace lenstrove::cli::movie
