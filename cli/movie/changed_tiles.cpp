#include "changed_tiles.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace lenstrove::cli::movie {
namespace {

bool TileDiffers(const RgbaImage& before, const RgbaImage& after, int x, int y, int width, int height) {
  const std::size_t offset = static_cast<std::size_t>(x) * before.pixelBytes();
  const std::size_t bytes = static_cast<std::size_t>(width) * before.pixelBytes();
  for (int row = y; row < y + height; ++row)
    if (std::memcmp(before.fileRow(row) + offset, after.fileRow(row) + offset, bytes) != 0) return true;
  return false;
}

}  // namespace

std::vector<TileRun> ChangedRuns(const RgbaImage& before, const RgbaImage& after, int tileWidth, int bandHeight) {
  std::vector<TileRun> runs;
  for (int y = 0; y < after.height; y += bandHeight) {
    const int height = std::min(bandHeight, after.height - y);
    bool open = false;
    for (int x = 0; x < after.width; x += tileWidth) {
      const int width = std::min(tileWidth, after.width - x);
      if (!TileDiffers(before, after, x, y, width, height)) {
        open = false;
        continue;
      }
      if (open) runs.back().width += width;
      else runs.push_back({x, y, width, height});
      open = true;
    }
  }
  return runs;
}

bool TilesCanBeWritten(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  if (d == nullptr || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL)))
    return false;
  if (d->nb_components < 3 || d->log2_chroma_w > 1 || d->log2_chroma_h > 1) return false;
  for (int c = 0; c < d->nb_components; ++c)
    if (d->comp[c].plane != c || d->comp[c].offset != 0 || d->comp[c].shift != 0) return false;
  return true;
}

void PlanePointers(const AVFrame& frame, int x, int y, std::uint8_t* planes[4]) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
  for (int p = 0; p < 4; ++p) {
    planes[p] = nullptr;
    if (p >= d->nb_components || frame.data[p] == nullptr) continue;
    const bool chroma = p == 1 || p == 2;
    const int px = chroma ? x >> d->log2_chroma_w : x, py = chroma ? y >> d->log2_chroma_h : y;
    planes[p] = frame.data[p] + static_cast<std::ptrdiff_t>(frame.linesize[p]) * py +
                static_cast<std::ptrdiff_t>(px) * d->comp[p].step;
  }
}

}  // namespace lenstrove::cli::movie
