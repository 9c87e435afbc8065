#pragma once

// The values one render call works with. Everything here lives on the
// render action's stack; nothing survives the call.

#include <cstdint>

#include "ofx/ofxCore.h"

namespace lenstrove {

// One decision per render serves both images: the host delivers source and
// output at the same depth, since the plug-in does not accept mixed depths.
enum class PixelLayout {
  FloatRGBA,  // four 32-bit floats, 16 bytes a pixel
  ByteRGBA,   // four 8-bit unsigned integers, 4 bytes a pixel
};

// Geometry of one render call. Every overlay position is measured from
// Frame, the source clip's whole picture, never from the render window or
// from an image's bounds: a tiling host may hand out images that hold only
// one tile, and the overlays must stay fixed to the picture all the same.
struct FrameGeometry {
  OfxRectI Frame{0, 0, 0, 0};
  OfxRectI SourceBounds{0, 0, 0, 0};
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t SourceRowBytes = 0;
  OfxRectI OutputBounds{0, 0, 0, 0};
  int32_t OutputRowBytes = 0;
  OfxRectI RenderWindow{0, 0, 0, 0};
  int32_t CenterColumn = 0;
  int32_t CenterRow = 0;
  int32_t BandThickness = 0;
  int32_t SkinBandStartRow = 0;
  int32_t GrayBandStartRow = 0;
  int32_t CropBarRows = 0;
  int32_t CropLowRow = 0;
  int32_t CropHighRow = 0;
};

// The parameter values at the render time. The initial values are the
// fallbacks for anything the host cannot deliver and equal the declared
// defaults. Switches hold what the host delivers: 0 is off, anything else on.
struct RenderSettings {
  int32_t ShowSkinTonePatches = 0;
  int32_t ShowSkinToneLine = 0;
  int32_t ShowMiddleGray = 0;
  int32_t LegalizeLevels = 0;
  int32_t FalseColorMode = 0;
  int32_t GuideThirds = 0;
  int32_t GuideGolden = 0;
  int32_t GuideCrosshair = 0;
  int32_t Crop185 = 0;
  int32_t Crop235 = 0;
  int32_t Crop239 = 0;
  double CropOpacity = 1.0;
  double LineThickness = 15.0;
  double SkinLinePos = 0.73;
  double GrayLinePos = 0.12;
};

// A pixel on its way through the stages. Byte channels arrive divided by
// 255; float channels arrive as stored and may lie outside 0..1.
struct WorkPixel {
  float R;
  float G;
  float B;
  float A;
};

}  // namespace lenstrove
