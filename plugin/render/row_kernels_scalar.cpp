#include <cstring>
#include <limits>

#include "render/pixel_format.h"
#include "render/row_kernels.h"
#include "render/stages.h"

namespace lenstrove {
namespace fast {
namespace {

// Outside band rows and guide runs only these stages can change a pixel;
// the crop stage checks the row itself.
template <PixelLayout Layout>
void StageRun(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
              int32_t x, int32_t y) {
  using Format = PixelFormat<Layout>;
  const FrameGeometry& geometry = *recipe.geometry;
  const RenderSettings& settings = *recipe.settings;
  for (int32_t i = 0; i < count; ++i) {
    WorkPixel pixel = Format::Read(source);
    ApplyFalseColor(pixel, x + i, y, geometry, settings);
    ApplyLegalizeLevels(pixel, x + i, y, geometry, settings);
    ApplyCropBars(pixel, x + i, y, geometry, settings);
    Format::Write(pixel, output);
    source += Format::kBytesPerPixel;
    output += Format::kBytesPerPixel;
  }
}

void ScalarCopy(const unsigned char* source, unsigned char* output, size_t bytes, bool) {
  std::memcpy(output, source, bytes);
}

void ScalarByteRun(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
                   int32_t x, int32_t y, bool) {
  StageRun<PixelLayout::ByteRGBA>(recipe, source, output, count, x, y);
}

void ScalarFloatRun(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
                    int32_t x, int32_t y, bool) {
  StageRun<PixelLayout::FloatRGBA>(recipe, source, output, count, x, y);
}

}  // namespace

void StageRunByte(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
                  int32_t x, int32_t y) {
  StageRun<PixelLayout::ByteRGBA>(recipe, source, output, count, x, y);
}

void StageRunFloat(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
                   int32_t x, int32_t y) {
  StageRun<PixelLayout::FloatRGBA>(recipe, source, output, count, x, y);
}

void StageReadBytes(const unsigned char* source, float* rgb, int32_t count) {
  for (int32_t i = 0; i < count; ++i)
    for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = PixelFormat<PixelLayout::ByteRGBA>::ToChannel(source[i * 4 + c]);
}

namespace {

int32_t FloatBits(float f) {
  int32_t bits;
  std::memcpy(&bits, &f, sizeof bits);
  return bits;
}

}  // namespace

void FalseColorEdgeBits(int32_t bits[kFalseColorEdges]) {
  const float atOrAbove[] = {color::kPurpleBelow, color::kBlueBelow, color::kGreenFrom, color::kPinkFrom};
  const float above[] = {color::kGreenTo, color::kPinkTo, color::kRedAbove};
  for (int i = 0; i < 4; ++i) bits[i] = FloatBits(atOrAbove[i]) - 1;
  for (int i = 0; i < 3; ++i) bits[4 + i] = FloatBits(above[i]);
}

bool MakeFalseColorCells(FalseColorCells& cells) {
  int32_t edges[kFalseColorEdges];
  FalseColorEdgeBits(edges);
  for (int cell = 0; cell < kFalseColorCells; ++cell) {
    const int32_t low = FloatBits(static_cast<float>(cell) / kFalseColorCells);
    const int32_t high = cell + 1 < kFalseColorCells ? FloatBits(static_cast<float>(cell + 1) / kFalseColorCells)
                                                     : std::numeric_limits<int32_t>::max();
    int below = 0, inside = 0;
    cells.edgeBits[cell] = std::numeric_limits<int32_t>::max();
    for (int32_t edge : edges) {
      if (edge < low) {
        ++below;
      } else if (edge < high) {
        ++inside;
        cells.edgeBits[cell] = edge;
      }
    }
    cells.minusBase[cell] = -below;
    if (inside > 1) return false;
  }
  return true;
}

const KernelSet& ScalarKernels() {
  static constexpr KernelSet kSet{ScalarCopy, ScalarByteRun, ScalarFloatRun, StageReadBytes};
  return kSet;
}

}  // namespace fast
}  // namespace lenstrove
