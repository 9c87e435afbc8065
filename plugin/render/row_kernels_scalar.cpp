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

// The cell of a luma as the kernels find it: the products round as theirs.
int CellOf(int32_t lumaBits, CellRule rule) {
  float luma;
  std::memcpy(&luma, &lumaBits, sizeof luma);
  if (rule == CellRule::ByLuma) return static_cast<int>(luma * kFalseColorCellScale);
  return static_cast<int>(luma * 255.0f) * kFalseColorCellFromGray >> 16;
}

}  // namespace

void FalseColorEdgeBits(int32_t bits[kFalseColorEdges]) {
  // Each band edge, lowest first, and whether a luma exactly at it already
  // lies above it (the band above includes it).
  struct Edge {
    float at;
    bool equalIsAbove;
  };
  const Edge edges[kFalseColorEdges] = {
      {color::kPurpleBelow, true}, {color::kBlueBelow, true}, {color::kGreenFrom, true}, {color::kGreenTo, false},
      {color::kPinkFrom, true},    {color::kPinkTo, false},   {color::kRedAbove, false},
  };
  for (int i = 0; i < kFalseColorEdges; ++i) bits[i] = FloatBits(edges[i].at) - (edges[i].equalIsAbove ? 1 : 0);
}

bool MakeFalseColorCells(FalseColorCells& cells, CellRule rule) {
  int32_t edges[kFalseColorEdges];
  FalseColorEdgeBits(edges);
  // An edge's last luma below it has the bits it must exceed, its first
  // luma above it those plus one. Cells past the cell of the last below lie
  // wholly above the edge, cells before the cell of the first above wholly
  // below; only a cell holding both must compare.
  int lastBelowCell[kFalseColorEdges], firstAboveCell[kFalseColorEdges];
  int comparedEdge[8] = {-1, -1, -1, -1, -1, -1, -1, -1};  // by a cell's low three bits
  for (int i = 0; i < kFalseColorEdges; ++i) {
    lastBelowCell[i] = CellOf(edges[i], rule);
    firstAboveCell[i] = CellOf(edges[i] + 1, rule);
    if (lastBelowCell[i] != firstAboveCell[i]) continue;
    int& compared = comparedEdge[lastBelowCell[i] & 7];
    if (compared >= 0 || lastBelowCell[i] >= kFalseColorCells) return false;
    compared = i;
  }
  for (int j = 0; j < 8; ++j)
    cells.edgeBits[j] = comparedEdge[j] >= 0 ? edges[comparedEdge[j]] : std::numeric_limits<int32_t>::max();
  for (int cell = 0; cell < kFalseColorCells; ++cell) {
    int below = 0;
    for (int i = 0; i < kFalseColorEdges; ++i) below += cell > lastBelowCell[i];
    // The compared edge passed by the whole cell is counted once already.
    const int compared = comparedEdge[cell & 7];
    if (compared >= 0 && cell > lastBelowCell[compared]) --below;
    cells.base[cell] = static_cast<int8_t>(below);
  }
  // The byte lookup gives entry 0 in the rest of each lane, which must add
  // nothing to the bucket.
  return cells.base[0] == 0;
}

const KernelSet& ScalarKernels() {
  static constexpr KernelSet kSet{ScalarCopy, ScalarByteRun, ScalarFloatRun, StageReadBytes};
  return kSet;
}

}  // namespace fast
}  // namespace lenstrove
