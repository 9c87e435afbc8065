#pragma once

// The fast pixel loop. Everything that stays the same along a row is decided
// once for the row: band rows and opaque byte bar rows come from a row worked
// out once per render, guide pixels are written as short runs, and only the
// colour operations and the bar darkening are computed pixel by pixel, several
// pixels at a time. The result is the reference loop's, byte for byte.

#include <cstddef>

#include "render/pixel_loop.h"

namespace lenstrove {

// The register widths the loop can compute with. SSE2 is part of every x86-64
// processor; AVX2 and AVX-512 are used only where the running processor
// reports them. NEON
// is part of every 64-bit ARM processor.
enum class VectorWidth {
  Scalar,  // one pixel at a time, through the stage functions
  SSE2,    // four channels of one kind at a time
  AVX2,    // eight
  AVX512,  // sixteen
  NEON,    // four
};

const char* VectorWidthName(VectorWidth width);

// The widths this machine can run, narrowest first. A fixed list rather than
// a container: nothing in the module may allocate or throw outside a render.
struct VectorWidthList {
  VectorWidth widths[4];
  size_t count = 0;
  const VectorWidth* begin() const { return widths; }
  const VectorWidth* end() const { return widths + count; }
  size_t size() const { return count; }
  VectorWidth operator[](size_t i) const { return widths[i]; }
  VectorWidth back() const { return widths[count - 1]; }
};
VectorWidthList SupportedVectorWidths();

// The widest supported width; what RunPixelLoop uses.
VectorWidth WidestVectorWidth();

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
