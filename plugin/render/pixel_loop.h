#pragma once

// The pixel loop: every pixel of the render window is read from the source,
// passed through the stages and written to the same place in the output.

#include <optional>

#include "render/render_types.h"

namespace lenstrove {

// An image as the loop addresses it: origin is the address of the pixel at
// (bounds.x1, bounds.y1); rows may run toward lower addresses.
struct ImagePlane {
  unsigned char* origin = nullptr;
  int64_t rowBytes = 0;
  OfxRectI bounds{0, 0, 0, 0};
};

struct PixelJob {
  PixelLayout layout = PixelLayout::ByteRGBA;
  ImagePlane source;
  ImagePlane output;
  OfxRectI window{0, 0, 0, 0};  // inside both images' bounds, never empty
};

// Checks what the host handed over and clips the window to both images.
// Nothing is planned (the render writes nothing) when the window misses an
// image, when an image's extent does not fit 32 bits, or when a row is too
// short for the pixels the layout puts in it.
std::optional<PixelJob> PlanPixelJob(PixelLayout layout, const ImagePlane& source, const ImagePlane& output,
                                     const OfxRectI& window);

// Runs the whole window through the stages.
void RunPixelLoop(const PixelJob& job, const FrameGeometry& geometry, const RenderSettings& settings);

// The same result by the plainest route: every stage called for every
// pixel. It defines what any faster loop must produce.
void RunReferencePixelLoop(const PixelJob& job, const FrameGeometry& geometry, const RenderSettings& settings);

}  // namespace lenstrove
