#pragma once

// Where a rendered picture differs from the picture the plug-in was given,
// in tiles: a movie frame keeps its own decoded samples in every tile the
// plug-in left alone, so guides and bars cost a conversion only where they
// are drawn, and the rest of the picture is the source's, bit for bit.

#include <vector>

#include "av_support.h"
#include "image/image_file.h"

namespace lenstrove::cli::movie {

// A rectangle of changed tiles, in file coordinates (top row first).
struct TileRun {
  int x = 0, y = 0, width = 0, height = 0;
};

// The frame is cut into bands of `bandHeight` rows and each band into
// tiles `tileWidth` wide (the last ones shorter); tiles where `after`
// differs from `before` in any byte come back, neighbours in a band merged.
// Both pictures have the same size and depth.
std::vector<TileRun> ChangedRuns(const RgbaImage& before, const RgbaImage& after, int tileWidth, int bandHeight);

// True for pixel formats whose samples a tile can be written into on its
// own: planar YUV (with or without alpha), chroma at most halved each way.
bool TilesCanBeWritten(AVPixelFormat format);

// Pointers to a frame's samples at pixel (x, y), for every plane; x and y
// must lie on the chroma grid.
void PlanePointers(const AVFrame& frame, int x, int y, std::uint8_t* planes[4]);

}  // namespace lenstrove::cli::movie
