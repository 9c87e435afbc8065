#pragma once

// The fast pixel loop. Everything that stays the same along a row is decided
// once for the row: band rows and opaque byte bar rows come from a row worked
// out once per render, guide pixels are written as short runs, and only the
// colour operations and the bar darkening are computed pixel by pixel, several
// pixels at a time. The result is the reference loop's, byte for byte.

#include <cstddef>

#include "render/pixel_loop.h"
#include "render/vector_width.h"

namespace lenstrove {

// How the vector widths store output rows. Frames larger than the cache are
// written with stores that bypass it (no read of the output lines first);
// tests force either way to cover both on small images.
enum class StoreMode { Automatic, Cached, Streaming };

// RunPixelLoop at a chosen width. A width the machine lacks falls back to the
// widest one it has below it. The scalar width always stores through the
// cache.
void RunPixelLoopWith(const PixelJob& job, const FrameGeometry& geometry, const RenderSettings& settings,
                      VectorWidth width, StoreMode mode = StoreMode::Automatic);

// Red, green and blue of count byte pixels (RGBA in memory) as the loop at
// this width reads them, three floats a pixel. The vector widths read a byte
// without dividing by 255; this is how tests hold them to the division.
void ReadByteChannelsWith(VectorWidth width, const unsigned char* source, float* rgb, int32_t count);

}  // namespace lenstrove
