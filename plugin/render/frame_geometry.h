#pragma once

#include "render/render_types.h"

namespace lenstrove {

// Fills the size, the centre and the band and crop rows from the frame and
// the settings. The frame, bounds, row bytes and render window are already
// set.
void ComputeDerivedGeometry(const RenderSettings& settings, FrameGeometry& geometry);

// Width or height of a rectangle in 64 bits: a host may hand over bounds
// whose extent does not fit 32.
int64_t RectWidth(const OfxRectI& rect);
int64_t RectHeight(const OfxRectI& rect);

// How the host describes the source clip's picture: its region of
// definition in canonical coordinates, and what maps those to pixels.
struct PictureDescription {
  bool regionKnown = false;
  OfxRectD region{0, 0, 0, 0};
  double scaleX = 1.0;
  double scaleY = 1.0;
  double pixelAspect = 1.0;
};

// A scale or aspect ratio the host left out, or gave as something no
// picture can have, counts as 1.
double UsableRatio(double value);

// The picture in pixel coordinates: the region of definition scaled to the
// render scale and squeezed by the pixel aspect ratio, rounded outward. An
// unknown, non-finite or empty region gives `fallback`, the source image's
// bounds.
OfxRectI PixelFrame(const PictureDescription& picture, const OfxRectI& fallback);

}  // namespace lenstrove
