#pragma once

// The row kernels behind the fast pixel loop: one set per vector width. A
// kernel works on a run of pixels inside one row that is neither a band row
// nor a guide run, so only the colour operations and the bar darkening apply.

#include <cstddef>
#include <cstdint>

#include "render/color_constants.h"
#include "render/render_types.h"
#include "render/vector_width.h"

namespace lenstrove {
namespace fast {

enum class ColourOp { None, FalseColor, Legalize };

// Legal levels on a byte b, read as b / 255, remapped and written back,
// comes out as 16 + floor(219 b / 255) for every b: the stage's rounding
// never carries a value across an integer. With x = 219 b + 16 * 255 that is
// x / 255, which for x below 65280 equals (x + x / 256 + 1) / 256 in
// integers, three cheap 16-bit steps where the float route takes ten. The
// loop compares this with the stage function for all 256 bytes once per
// render and lets the kernels use it only if every one matches.
constexpr uint32_t LegalByteByFormula(uint32_t b) {
  const uint32_t x = b * 219 + 16 * 255;
  return (x + (x >> 8) + 1) >> 8;
}

// Darkening a byte b on a bar row (read as b / 255, multiplied by the
// factor, written back) is a rising step function of b, and for nearly
// every factor (97 opacities in 100) it equals (2 b m) >> 16 for some 16-bit
// m: one 16-bit multiply
// where the float route takes nine steps. The loop finds m from the crop
// stage's own 256 results once per render (BarByteMultiplier) and lets the
// kernels use it only where it gives every one of them. An m of 32768 keeps
// a byte as it is, which is how the alpha bytes pass through the multiply.
constexpr uint32_t DarkenByteByFormula(uint32_t b, uint32_t m) { return (2 * b * m) >> 16; }
constexpr uint16_t kKeepByteMultiplier = 32768;

// The byte kernels sort a luma into eight buckets between the false-colour
// band edges, 0 below the first edge to 7 above the last.
constexpr int kFalseColorBuckets = 8;
// The band each bucket paints, or -1 where it stays gray.
constexpr int kFalseColorBucketBand[kFalseColorBuckets] = {0, 1, -1, 2, -1, 3, -1, 4};
// The bits a luma's bits must exceed to lie at or above each band edge, from
// the lowest edge up: for an edge the band includes that is the edge's bits
// less one, for one it does not the edge's own bits. For lumas that are
// neither negative nor NaN, integer order of the bits is float order.
constexpr int kFalseColorEdges = kFalseColorBuckets - 1;
void FalseColorEdgeBits(int32_t bits[kFalseColorEdges]);

// Widths with a 16-entry byte lookup and an 8-entry lane lookup find the
// bucket without the seven comparisons. Truncating luma * kFalseColorCellScale
// cuts the byte lumas (0..1) into 13 cells. No cell holds two edges, and the
// cells that hold one differ in their low three bits, so the one comparison
// a cell needs is against the edge looked up by those bits; every other
// edge lies wholly above or below the cell, since the cell is a rounded
// product of the luma and so grows with it. A luma's bucket is then a count
// looked up by cell plus one if it passes that edge.
//
// Outside bars the gray level byte g = trunc(luma * 255) is worked out for
// every pixel anyway, and it grows with the luma too, so there the cell is
// (g * kFalseColorCellFromGray) >> 16: one integer multiply in place of a
// float product and its conversion. The same 13 cells, near enough; the
// tables are built for whichever rule a row uses.
constexpr float kFalseColorCellScale = 12.25f;
constexpr int32_t kFalseColorCellFromGray = 3148;
enum class CellRule { ByLuma, ByGrayByte };
constexpr int kFalseColorCells = 16;
struct FalseColorCells {
  // The bucket of the cell's lowest luma, less one where the cell's
  // comparison is with an edge wholly below it (which it always passes).
  int8_t base[kFalseColorCells] = {};
  // By a cell's low three bits: the bits to exceed for the edge in that
  // cell, or INT32_MAX (never exceeded) where no cell with those bits holds
  // one.
  int32_t edgeBits[8] = {};
};
// False if the cells cannot find every bucket: a cell holding two edges, or
// two edge cells sharing their low three bits. The tests hold this true.
bool MakeFalseColorCells(FalseColorCells& cells, CellRule rule);

// Byte false colour in integers. With the channels as bytes R, G and B,
// u = 1063 R + 3576 G + 361 B is the luma in units of 1 / 1275000 (the
// weights times 5000, over 255), an exact integer. The float luma differs
// from u / 1275000 by less than 0.33 units: four roundings of at most 2^-24
// each on a sum of non-negative terms no larger than 1 (0.31 units), and
// single-precision weights and edges within 0.02 units of their decimals.
// Every band edge is a whole number of units and a multiple of 250 (the
// edge times 5100 steps of 250 units), and the gray byte, floor(luma * 255)
// after one more rounding (0.08 units), steps at multiples of 5000. So where
// u is not exactly at an edge, the luma lies on the same side of it as u,
// and where u is no multiple of 5000 the gray byte is u / 5000 rounded down.
// The kernels work with j = u / 250 rounded down: a luma with u above an
// edge has j at or above the edge's step (kFalseColorEdgeSteps), and the
// gray byte is j / 20 rounded down. Lanes with u exactly 250 j at an edge or
// at a gray byte's step are left to the float route.
constexpr int32_t kLumaUnitsPerByteLevel = 5000;
constexpr int32_t kLumaUnitsPerStep = 250;
constexpr int32_t LumaUnitWeight(float weight) {
  return static_cast<int32_t>(static_cast<double>(weight) * kLumaUnitsPerByteLevel + 0.5);
}
constexpr int32_t kLumaUnitWeightRed = LumaUnitWeight(color::kLumaWeightRed);
constexpr int32_t kLumaUnitWeightGreen = LumaUnitWeight(color::kLumaWeightGreen);
constexpr int32_t kLumaUnitWeightBlue = LumaUnitWeight(color::kLumaWeightBlue);
constexpr double AbsoluteDifference(double a, double b) { return a > b ? a - b : b - a; }
// How far the weights in units are from the float weights, summed over the
// channels at their largest (255): part of the 0.33 above.
constexpr double kLumaUnitWeightError =
    255 * (AbsoluteDifference(color::kLumaWeightRed * 5000.0, kLumaUnitWeightRed) +
           AbsoluteDifference(color::kLumaWeightGreen * 5000.0, kLumaUnitWeightGreen) +
           AbsoluteDifference(color::kLumaWeightBlue * 5000.0, kLumaUnitWeightBlue));
static_assert(kLumaUnitWeightError < 0.02, "the luma weights are whole numbers of units");
constexpr int32_t kLumaUnitsMax = 255 * (kLumaUnitWeightRed + kLumaUnitWeightGreen + kLumaUnitWeightBlue);
static_assert(kLumaUnitsMax == 255 * kLumaUnitsPerByteLevel, "the weights sum to one");
// A band edge in steps of 250 units.
constexpr int32_t EdgeStep(float edge) {
  return static_cast<int32_t>(static_cast<double>(edge) * (255.0 * kLumaUnitsPerByteLevel / kLumaUnitsPerStep) + 0.5);
}
constexpr int32_t kFalseColorEdgeSteps[kFalseColorEdges] = {
    EdgeStep(color::kPurpleBelow), EdgeStep(color::kBlueBelow), EdgeStep(color::kGreenFrom),
    EdgeStep(color::kGreenTo),     EdgeStep(color::kPinkFrom),  EdgeStep(color::kPinkTo),
    EdgeStep(color::kRedAbove)};
constexpr bool EdgeStepsExact() {
  const float edges[kFalseColorEdges] = {color::kPurpleBelow, color::kBlueBelow, color::kGreenFrom,
                                         color::kGreenTo,     color::kPinkFrom,  color::kPinkTo,
                                         color::kRedAbove};
  for (int i = 0; i < kFalseColorEdges; ++i) {
    const double units = static_cast<double>(edges[i]) * 255.0 * kLumaUnitsPerByteLevel;
    if (AbsoluteDifference(units, kFalseColorEdgeSteps[i] * double{kLumaUnitsPerStep}) > 0.03) return false;
    if (i > 0 && kFalseColorEdgeSteps[i] <= kFalseColorEdgeSteps[i - 1]) return false;
  }
  return true;
}
static_assert(EdgeStepsExact(), "every band edge is a whole number of steps");
// The smallest float above 1 / 250: u times it, truncated, is u / 250
// rounded down for every u up to kLumaUnitsMax (the excess stays below
// 0.001 of a step there; the tests check every u).
constexpr float kLumaStepScale = 0x1.0624dep-8f;
static_assert(static_cast<double>(kLumaStepScale) > 1.0 / kLumaUnitsPerStep &&
                  static_cast<double>(kLumaStepScale) - 1.0 / kLumaUnitsPerStep < 1e-9,
              "just above 1 / 250");
// The gray byte from j: (j * 3277) >> 16 is j / 20 rounded down for every j
// up to 5100 (3277 / 65536 exceeds 1/20 by less than 0.016 / 5100).
constexpr int32_t kStepsPerByteLevel = kLumaUnitsPerByteLevel / kLumaUnitsPerStep;
constexpr int32_t kGrayByteFromSteps = 3277;
// The bucket from j: every edge is a whole number of hundredths of luma, 51
// steps each, so j lies at or above an edge's step exactly where
// q = j / 51 rounded down, the luma in hundredths (0 to 100, a byte), lies at
// or above the edge's hundredth. (j * 5141) >> 18 is q for every j up to 5100.
constexpr int32_t kStepsPerHundredth = 51;
constexpr int32_t kHundredthsFromSteps = 5141;  // then shifted right by 2
constexpr bool EdgesWholeHundredths() {
  for (int32_t step : kFalseColorEdgeSteps)
    if (step % kStepsPerHundredth != 0 || step / kStepsPerHundredth > 127) return false;
  return true;
}
static_assert(EdgesWholeHundredths(), "every band edge is a whole number of hundredths");
// On bar rows the gray byte is floor(luma * factor * 255) after two more
// roundings: within 1.3e-4 of u * factor / 5000, which the kernels compute
// in float (within 3.1e-5 of it). They take it where u * factor / 5000 plus
// and minus this margin truncate alike.
constexpr float kBarGrayMargin = 0x1p-12f;

// What a run has to do; the same for every pixel of it.
struct RunRecipe {
  ColourOp op = ColourOp::None;
  bool crop = false;      // the row is a bar row: darken, maybe make opaque
  float factor = 1.0f;    // the bar darkening factor, as the crop stage computes it
  bool alphaOne = false;  // bars are opaque (alpha set to 1 on bar rows)
  const FrameGeometry* geometry = nullptr;
  const RenderSettings* settings = nullptr;
  // Byte images in false colour: the stored red, green and blue bytes (alpha
  // byte zero) of each luma bucket's band colour, zero for the gray buckets,
  // outside bar rows [0] and on them [1].
  uint32_t falseColorBucketBytes[2][8] = {};
  FalseColorCells falseColorCells[2];  // outside bars (by gray byte), on bar rows (by luma)
  bool falseColorByCells = false;      // MakeFalseColorCells succeeded for both
  // Legal levels outside bars may take LegalByteByFormula (checked per render).
  bool legalBytesByFormula = false;
  // Bar rows of byte images without a colour operation may take
  // DarkenByteByFormula with this multiplier (found per render).
  bool barBytesByFormula = false;
  uint16_t barByteMultiplier = 0;
};

// Writes count pixels from source to output; x and y are the first pixel's
// coordinates. With stream set the kernel may bypass the cache for its stores
// (the caller issues the closing store fence).
using RunKernel = void (*)(const RunRecipe& recipe, const unsigned char* source, unsigned char* output,
                           int32_t count, int32_t x, int32_t y, bool stream);
using CopyKernel = void (*)(const unsigned char* source, unsigned char* output, size_t bytes, bool stream);
// Red, green and blue of count byte pixels as the kernels read them, three
// floats a pixel; for checking that reading against the division.
using ByteReader = void (*)(const unsigned char* source, float* rgb, int32_t count);

struct KernelSet {
  CopyKernel copy;
  RunKernel byteRun;
  RunKernel floatRun;
  ByteReader readBytes;
};

// The vector kernels read a byte b as (h + h * 2^-24) * 2^-24 with
// h = b * 0x010101, which equals b / 255 to the bit (see ByteChannel).
constexpr float kByteRepeatScale = 0x1p-24f;

const KernelSet& ScalarKernels();
const KernelSet& Sse2Kernels();
const KernelSet& Avx2Kernels();
const KernelSet& Avx512Kernels();
const KernelSet& NeonKernels();

// The set for a width; a width the machine lacks gives the widest it has
// below it. And what makes streamed stores visible before the host gets the
// image back.
const KernelSet& KernelsFor(VectorWidth width);
void FenceStreamedStores();

// Pixel by pixel through the stage functions themselves: the scalar width
// and blocks holding a NaN whose result would depend on which NaN an
// addition keeps.
void StageRunByte(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
                  int32_t x, int32_t y);
void StageRunFloat(const RunRecipe& recipe, const unsigned char* source, unsigned char* output, int32_t count,
                   int32_t x, int32_t y);
void StageReadBytes(const unsigned char* source, float* rgb, int32_t count);

}  // namespace fast
}  // namespace lenstrove
