#pragma once

// --fit WxH: pictures scaled to fit inside a box before the plug-in sees
// them, so the aids are drawn crisp at the size that is written. The
// display aspect is kept, pixel aspect counted, and the result has square
// pixels. Image files are scaled through OpenImageIO (Lanczos); movie
// frames are scaled by libswscale on their way to RGBA.

#include <cstdint>
#include <string>

#include "image/image_file.h"
#include "image/image_parts.h"
#include "interface/arguments.h"

namespace lenstrove::cli {

// Throws std::runtime_error (one line) when the box has no area or holds
// more pixels than `pixelLimit`.
void CheckFitBox(const PictureSize& box, std::int64_t pixelLimit);

// The size a picture of width x height pixels, each `pixelAspect` times as
// wide as high, takes when fitted into `box` with square pixels: as large
// as fits, its display aspect kept, each side a multiple of its step (2
// where a codec stores chroma at half width or height). Throws when the
// box is narrower or lower than a step.
PictureSize FittedSize(int width, int height, double pixelAspect, const PictureSize& box, int stepX = 1,
                       int stepY = 1);

// `image` scaled to width x height (windows and alpha mode kept as they
// are; the display window becomes the new size).
RgbaImage ResizedRgba(const RgbaImage& image, int width, int height);

// Every part of `file`, every channel, scaled so that the rendered part's
// display window fits `box`; windows scale with it and the pixel aspect
// becomes 1. Throws when the scaled parts would exceed `pixelLimit`.
void FitImageFile(ImageFile& file, const std::string& path, const PictureSize& box, std::int64_t pixelLimit);

}  // namespace lenstrove::cli
