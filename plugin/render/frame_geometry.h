#pragma once

#include "render/render_types.h"

namespace lenstrove {

// Fills the centre and the band and crop rows from the source bounds and
// the settings. The bounds, row bytes and render window are already set.
void ComputeDerivedGeometry(const RenderSettings& settings, FrameGeometry& geometry);

// Width or height of a rectangle in 64 bits: a host may hand over bounds
// whose extent does not fit 32.
int64_t RectWidth(const OfxRectI& rect);
int64_t RectHeight(const OfxRectI& rect);

}  // namespace lenstrove
