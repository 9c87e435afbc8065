#pragma once

// The row kernels behind the fast pixel loop: one set per vector width. A
// kernel works on a run of pixels inside one row that is neither a band row
// nor a guide run, so only the colour operations and the bar darkening apply.

#include <cstddef>
#include <cstdint>

#include "render/color_constants.h"
#include "render/render_types.h"

namespace lenstrove {
namespace fast {

enum class ColourOp { None, FalseColor, Legalize };

// What a run has to do; the same for every pixel of it.
struct RunRecipe {
  ColourOp op = ColourOp::None;
  bool crop = false;      // the row is a bar row: darken, maybe make opaque
  float factor = 1.0f;    // the bar darkening factor, as the crop stage computes it
  bool alphaOne = false;  // bars are opaque (alpha set to 1 on bar rows)
  const FrameGeometry* geometry = nullptr;
  const RenderSettings* settings = nullptr;
  // Byte images in false colour: each band's stored red, green and blue
  // bytes (alpha byte zero), outside bar rows [0] and on them [1].
  uint32_t falseColorBandBytes[2][5] = {};
};

// Writes count pixels from source to output; x and y are the first pixel's
// coordinates. With stream set the kernel may bypass the cache for its stores
// (the caller issues the closing store fence).
using RunKernel = void (*)(const RunRecipe& recipe, const unsigned char* source, unsigned char* output,
                           int32_t count, int32_t x, int32_t y, bool stream);
using CopyKernel = void (*)(const unsigned char* source, unsigned char* output, size_t bytes, bool stream);

struct KernelSet {
  CopyKernel copy;
  RunKernel byteRun;
  RunKernel floatRun;
};

const KernelSet& ScalarKernels();
const KernelSet& Sse2Kernels();
const KernelSet& Avx2Kernels();
const KernelSet& NeonKernels();

// Pixel by pixel through the stage functions themselves: the scalar width,
// the ends of runs too short for a vector, and blocks holding a NaN whose
// result would depend on which NaN an addition keeps.
void StageRunByte(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
                  int32_t x, int32_t y);
void StageRunFloat(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
                   int32_t x, int32_t y);

}  // namespace fast
}  // namespace lenstrove
