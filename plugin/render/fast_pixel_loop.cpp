#include "render/fast_pixel_loop.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "render/color_constants.h"
#include "render/geometry_math.h"
#include "render/pixel_format.h"
#include "render/row_kernels.h"
#include "render/stages.h"

namespace lenstrove {
namespace {

using fast::ColourOp;
using fast::KernelSet;
using fast::RunRecipe;

// Beyond this many output bytes a frame no longer stays in the cache, and
// stores that bypass it save the reads of the output lines.
constexpr int64_t kStreamingThresholdBytes = int64_t{16} << 20;
constexpr uintptr_t kCacheLine = 64;

unsigned char* PixelAddress(const ImagePlane& image, int64_t x, int64_t y, int64_t bytesPerPixel) {
  return image.origin + (y - image.bounds.y1) * image.rowBytes + (x - image.bounds.x1) * bytesPerPixel;
}

struct ByteRange {
  uintptr_t low, high;
};

ByteRange WindowBytes(const ImagePlane& image, const OfxRectI& w, int64_t bytesPerPixel) {
  const uintptr_t first = reinterpret_cast<uintptr_t>(PixelAddress(image, w.x1, w.y1, bytesPerPixel));
  const uintptr_t last = reinterpret_cast<uintptr_t>(PixelAddress(image, w.x1, w.y2 - 1, bytesPerPixel));
  const uintptr_t rowLength = static_cast<uintptr_t>((int64_t{w.x2} - w.x1) * bytesPerPixel);
  return {std::min(first, last), std::max(first, last) + rowLength};
}

// Rendering in place (every output pixel at its source pixel's address) is
// safe row by row, as is any layout where the two images do not touch. Any
// other overlap makes the result depend on the order pixels are visited,
// which only the reference loop reproduces.
bool NeedsReferenceOrder(const PixelJob& job, int64_t bytesPerPixel) {
  const ByteRange source = WindowBytes(job.source, job.window, bytesPerPixel);
  const ByteRange output = WindowBytes(job.output, job.window, bytesPerPixel);
  if (source.high <= output.low || output.high <= source.low) return false;
  const bool inPlace =
      PixelAddress(job.source, job.window.x1, job.window.y1, bytesPerPixel) ==
          PixelAddress(job.output, job.window.x1, job.window.y1, bytesPerPixel) &&
      job.source.rowBytes == job.output.rowBytes;
  return !inPlace;
}

// Columns [first, last] painted by a guide, inclusive.
struct Span {
  int64_t first, last;
};

bool NearLine(int64_t position, int64_t line) { return std::llabs(position - line) <= 1; }

// Where the guides fall, worked out once per render from the frame geometry.
struct GuidePlan {
  std::array<int64_t, 4> lines{};  // rows of the thirds and golden grids
  int lineCount = 0;
  std::array<Span, 4> columns{};  // column spans of the same grids, on every row
  int columnCount = 0;
  bool crosshair = false;
  int64_t centerColumn = 0, centerRow = 0;

  GuidePlan(const FrameGeometry& g, const RenderSettings& s) {
    if (s.GuideThirds != 0) AddGrid(ThirdsGridLines(g));
    if (s.GuideGolden != 0) AddGrid(GoldenGridLines(g));
    crosshair = s.GuideCrosshair != 0;
    centerColumn = g.CenterColumn;
    centerRow = g.CenterRow;
  }

  void AddGrid(const GridLines& grid) {
    for (int64_t column : grid.columns) columns[columnCount++] = {column - 1, column + 1};
    for (int64_t row : grid.rows) lines[lineCount++] = row;
  }

  bool IsFullRow(int64_t y) const {
    for (int i = 0; i < lineCount; ++i)
      if (NearLine(y, lines[i])) return true;
    return false;
  }

  // The row's guide spans clipped to [x1, x2), sorted and merged; returns
  // how many.
  int RowSpans(int64_t y, int64_t x1, int64_t x2, std::array<Span, 8>& out) const {
    std::array<Span, 8> all{};
    int n = 0;
    if (IsFullRow(y)) {
      out[0] = {x1, x2 - 1};
      return 1;
    }
    for (int i = 0; i < columnCount; ++i) all[n++] = columns[i];
    if (crosshair) {
      const int64_t dy = std::llabs(y - centerRow);
      if (dy < kCrosshairArmLength) all[n++] = {centerColumn - 1, centerColumn + 1};
      if (dy <= 1) all[n++] = {centerColumn - (kCrosshairArmLength - 1), centerColumn + (kCrosshairArmLength - 1)};
    }
    int kept = 0;
    for (int i = 0; i < n; ++i) {
      const Span s{std::max(all[i].first, x1), std::min(all[i].last, x2 - 1)};
      if (s.first <= s.last) all[kept++] = s;
    }
    // At most eight spans: an insertion sort by first column.
    for (int i = 1; i < kept; ++i)
      for (int j = i; j > 0 && all[j].first < all[j - 1].first; --j) std::swap(all[j], all[j - 1]);
    int m = 0;
    for (int i = 0; i < kept; ++i) {
      if (m > 0 && all[i].first <= out[m - 1].last + 1)
        out[m - 1].last = std::max(out[m - 1].last, all[i].last);
      else
        out[m++] = all[i];
    }
    return m;
  }
};

// Rows whose every pixel is decided without looking at the source: the band
// rows (a band paints all four channels after the colour stages and guides
// have run) and, in byte images, fully opaque bar rows (every colour a byte
// image can carry darkens to exactly zero).
enum class FixedRow { None = 0, Gray, SkinLine, SkinPatch, BlackBar, Count };

FixedRow ClassifyFixedRow(int32_t y, const FrameGeometry& g, const RenderSettings& s) {
  const int64_t thickness = g.BandThickness;
  const int64_t grayOffset = int64_t{y} - g.GrayBandStartRow;
  if (s.ShowMiddleGray != 0 && grayOffset >= 0 && grayOffset < thickness) return FixedRow::Gray;
  const bool line = s.ShowSkinToneLine != 0, patches = s.ShowSkinTonePatches != 0;
  const int64_t skinOffset = int64_t{y} - g.SkinBandStartRow;
  if ((line || patches) && skinOffset >= 0 && skinOffset < thickness) {
    const bool patchRow = patches && (!line || (skinOffset >= thickness / 3 && skinOffset < (2 * thickness) / 3));
    return patchRow ? FixedRow::SkinPatch : FixedRow::SkinLine;
  }
  return FixedRow::None;
}

// Heap memory for a row, taken without exceptions: nothing may throw into the
// host's C code, and a failed allocation only means the slower route.
class RowBuffer {
 public:
  RowBuffer() = default;
  RowBuffer(const RowBuffer&) = delete;
  RowBuffer& operator=(const RowBuffer&) = delete;
  ~RowBuffer() { std::free(data_); }

  // The buffer, allocated on first use; null when memory is short.
  unsigned char* Get(size_t size) {
    if (data_ == nullptr) data_ = static_cast<unsigned char*>(std::malloc(size == 0 ? 1 : size));
    return data_;
  }
  bool filled = false;

 private:
  unsigned char* data_ = nullptr;
};

// Whether the legal-levels stage, run on each byte value as the reference
// loop runs it, gives LegalByteByFormula's byte for all 256 of them.
bool LegalStageMatchesFormula(const FrameGeometry& g, const RenderSettings& s) {
  using Format = PixelFormat<PixelLayout::ByteRGBA>;
  for (uint32_t b = 0; b < 256; ++b) {
    const float channel = Format::ToChannel(static_cast<unsigned char>(b));
    WorkPixel pixel{channel, channel, channel, 1.0f};
    ApplyLegalizeLevels(pixel, 0, 0, g, s);
    if (Format::ToByte(pixel.R) != fast::LegalByteByFormula(b)) return false;
  }
  return true;
}

// Finds the multiplier with which DarkenByteByFormula gives, for every byte,
// what the crop stage makes of it on a bar row (given as y); false where none
// does. Each byte b bounds the multiplier from both sides; the narrowest
// bounds are checked against all 256 bytes before the answer is trusted.
bool FindBarByteMultiplier(int32_t y, const FrameGeometry& g, const RenderSettings& s, uint16_t& multiplier) {
  using Format = PixelFormat<PixelLayout::ByteRGBA>;
  uint32_t darkened[256];
  for (uint32_t b = 0; b < 256; ++b) {
    const float channel = Format::ToChannel(static_cast<unsigned char>(b));
    WorkPixel pixel{channel, channel, channel, 1.0f};
    ApplyCropBars(pixel, 0, y, g, s);
    darkened[b] = Format::ToByte(pixel.R);
  }
  // (2 b m) >> 16 = d means d * 32768 <= b m < (d + 1) * 32768.
  uint32_t low = 0, high = 0xFFFF;
  for (uint32_t b = 1; b < 256; ++b) {
    low = std::max(low, (darkened[b] * 32768 + b - 1) / b);
    high = std::min(high, ((darkened[b] + 1) * 32768 - 1) / b);
  }
  if (low > high) return false;
  for (uint32_t b = 0; b < 256; ++b)
    if (fast::DarkenByteByFormula(b, low) != darkened[b]) return false;
  multiplier = static_cast<uint16_t>(low);
  return true;
}

template <PixelLayout Layout>
class RowRenderer {
 public:
  using Format = PixelFormat<Layout>;
  static constexpr int64_t kBpp = Format::kBytesPerPixel;

  RowRenderer(const PixelJob& job, const FrameGeometry& g, const RenderSettings& s, const KernelSet& kernels,
              bool mayStream, bool mustStream)
      : job_(job), geometry_(g), settings_(s), kernels_(kernels), guides_(g, s) {
    const OfxRectI& w = job.window;
    count_ = w.x2 - w.x1;
    rowLength_ = static_cast<size_t>(count_) * kBpp;
    recipe_.op = s.FalseColorMode != 0   ? ColourOp::FalseColor
                 : s.LegalizeLevels != 0 ? ColourOp::Legalize
                                         : ColourOp::None;
    // Streaming saves reading each output line before it is written, which
    // pays while a render waits on memory. Byte false colour works several
    // times as long per pixel as a copy; there ordinary stores measured
    // faster at every vector width on large frames, so it does not stream.
    const bool busyPerPixel = Layout == PixelLayout::ByteRGBA && recipe_.op == ColourOp::FalseColor;
    stream_ = mustStream || (mayStream && !busyPerPixel &&
                             int64_t{count_} * (int64_t{w.y2} - w.y1) * kBpp >= kStreamingThresholdBytes);
    recipe_.factor = 1.0f - static_cast<float>(s.CropOpacity);
    recipe_.alphaOne = s.CropOpacity >= kOpaqueBarThreshold;
    if (stream_ && scratch_.Get(rowLength_) == nullptr) stream_ = false;
    for (int bar = 0; bar < 2; ++bar)
      for (int bucket = 0; bucket < fast::kFalseColorBuckets; ++bucket) {
        const int band = fast::kFalseColorBucketBand[bucket];
        if (band < 0) continue;
        uint32_t bytes = 0;
        const color::Rgb& rgb = color::kFalseColorBandColors[band];
        const float channels[3] = {rgb.r, rgb.g, rgb.b};
        for (int c = 0; c < 3; ++c) {
          const float colour = channels[c];
          const float value = bar ? colour * recipe_.factor : colour;
          bytes |= uint32_t{PixelFormat<PixelLayout::ByteRGBA>::ToByte(value)} << (8 * c);
        }
        recipe_.falseColorBucketBytes[bar][bucket] = bytes;
      }
    if (recipe_.op == ColourOp::FalseColor)
      recipe_.falseColorByCells =
          fast::MakeFalseColorCells(recipe_.falseColorCells[0], fast::CellRule::ByGrayByte) &&
          fast::MakeFalseColorCells(recipe_.falseColorCells[1], fast::CellRule::ByLuma);
    recipe_.legalBytesByFormula = recipe_.op == ColourOp::Legalize && LegalStageMatchesFormula(g, s);
    if (Layout == PixelLayout::ByteRGBA && recipe_.op == ColourOp::None && g.CropBarRows > 0)
      recipe_.barBytesByFormula = FindBarByteMultiplier(g.CropLowRow - 1, g, s, recipe_.barByteMultiplier);
    recipe_.geometry = &g;
    recipe_.settings = &s;
    barRecipe_ = recipe_;
    barRecipe_.crop = true;
  }

  bool Streaming() const { return stream_; }

  void Run() {
    const OfxRectI& w = job_.window;
    for (int32_t y = w.y1; y < w.y2; ++y) {
      const unsigned char* source = PixelAddress(job_.source, w.x1, y, kBpp);
      unsigned char* output = PixelAddress(job_.output, w.x1, y, kBpp);
      const bool bar = IsBarRow(y, geometry_);
      FixedRow fixed = ClassifyFixedRow(y, geometry_, settings_);
      if (fixed == FixedRow::None && Layout == PixelLayout::ByteRGBA && bar && recipe_.factor == 0.0f &&
          recipe_.alphaOne)
        fixed = FixedRow::BlackBar;
      if (fixed != FixedRow::None) {
        if (const unsigned char* row = FixedRowPixels(fixed, bar, y))
          kernels_.copy(row, output, rowLength_, stream_);
        else
          FillFixedRow(output, y);
        continue;
      }
      RenderRow(source, output, y, bar);
    }
  }

 private:
  // Worked out on first use with the stage functions themselves, from a
  // source pixel the stages overwrite entirely.
  // Null when there is no memory for it; the row is then filled in place.
  const unsigned char* FixedRowPixels(FixedRow kind, bool bar, int32_t y) {
    RowBuffer& buffer = fixedRows_[static_cast<int>(kind) * 2 + (bar ? 1 : 0)];
    unsigned char* row = buffer.Get(rowLength_);
    if (row != nullptr && !buffer.filled) {
      FillFixedRow(row, y);
      buffer.filled = true;
    }
    return row;
  }

  void FillFixedRow(unsigned char* at, int32_t y) const {
    for (int32_t x = job_.window.x1; x < job_.window.x2; ++x) {
      WorkPixel pixel{0.0f, 0.0f, 0.0f, 0.0f};
      for (StageFunction stage : kStageSequence) stage(pixel, x, y, geometry_, settings_);
      Format::Write(pixel, at);
      at += kBpp;
    }
  }

  void RenderRow(const unsigned char* source, unsigned char* output, int32_t y, bool bar) {
    std::array<Span, 8> spans;
    const int64_t x1 = job_.window.x1, x2 = job_.window.x2;
    const int spanCount = guides_.RowSpans(y, x1, x2, spans);
    auto at = [x1](auto* row, int64_t x) { return row + (x - x1) * kBpp; };
    int64_t x = x1;
    if (!stream_ || reinterpret_cast<uintptr_t>(output) % kBpp != 0) {
      for (int i = 0; i < spanCount; ++i) {
        RenderRun(at(source, x), at(output, x), x, spans[i].first - x, y, bar, stream_);
        PaintGuide(at(source, spans[i].first), at(output, spans[i].first), spans[i].last + 1 - spans[i].first, bar);
        x = spans[i].last + 1;
      }
      RenderRun(at(source, x), at(output, x), x, x2 - x, y, bar, stream_);
      return;
    }
    // Streamed rows: the cache lines holding guide pixels are put together
    // in a cached scratch row and streamed out whole, so no line is written
    // both by streaming and by ordinary stores.
    const auto lineStart = [&](int64_t px) {
      const uintptr_t misalign = reinterpret_cast<uintptr_t>(at(output, px)) % kCacheLine;
      return std::max(x1, px - static_cast<int64_t>(misalign) / kBpp);
    };
    const auto lineEnd = [&](int64_t px) {
      const uintptr_t misalign = reinterpret_cast<uintptr_t>(at(output, px)) % kCacheLine;
      return std::min(x2, px + static_cast<int64_t>((kCacheLine - misalign) % kCacheLine) / kBpp);
    };
    for (int i = 0; i < spanCount;) {
      const int64_t from = lineStart(spans[i].first);
      int64_t to = lineEnd(spans[i].last + 1);
      int j = i + 1;
      while (j < spanCount && lineStart(spans[j].first) <= to) to = lineEnd(spans[j++].last + 1);
      RenderRun(at(source, x), at(output, x), x, from - x, y, bar, true);
      unsigned char* scratch = scratch_.Get(rowLength_);
      RenderRun(at(source, from), scratch, from, to - from, y, bar, false);
      for (int k = i; k < j; ++k)
        PaintGuide(at(source, spans[k].first), scratch + (spans[k].first - from) * kBpp,
                   spans[k].last + 1 - spans[k].first, bar);
      kernels_.copy(scratch, at(output, from), static_cast<size_t>(to - from) * kBpp, true);
      x = to;
      i = j;
    }
    RenderRun(at(source, x), at(output, x), x, x2 - x, y, bar, true);
  }

  // count pixels of the row from column x, outside every guide.
  void RenderRun(const unsigned char* source, unsigned char* output, int64_t x, int64_t count, int32_t y, bool bar,
                 bool stream) {
    if (count <= 0) return;
    if (recipe_.op == ColourOp::None && !bar) {
      // No stage changes the pixel: a byte survives the trip to float and
      // back, a float is stored as read.
      if (source != output) kernels_.copy(source, output, static_cast<size_t>(count) * kBpp, stream);
      return;
    }
    const fast::RunKernel run = Layout == PixelLayout::ByteRGBA ? kernels_.byteRun : kernels_.floatRun;
    run(bar ? barRecipe_ : recipe_, source, output, static_cast<int32_t>(count), static_cast<int32_t>(x), y, stream);
  }

  // A guide pixel is white whatever the colour stages made of it, keeps its
  // alpha, and is then darkened like any pixel of its row.
  void PaintGuide(const unsigned char* source, unsigned char* output, int64_t count, bool bar) {
    const float white = bar ? 1.0f * recipe_.factor : 1.0f;
    const bool opaque = bar && recipe_.alphaOne;
    if constexpr (Layout == PixelLayout::ByteRGBA) {
      // A stored alpha byte reads back as itself, so only the colour bytes
      // change; horizontal guides make whole rows of these.
      const uint32_t colour = uint32_t{Format::ToByte(white)} * 0x010101u;
      const uint32_t alphaKeep = opaque ? 0 : 0xFF000000u;
      const uint32_t alphaSet = opaque ? 0xFF000000u : 0;
      for (int64_t i = 0; i < count; ++i) {
        uint32_t pixel;
        std::memcpy(&pixel, source + i * kBpp, sizeof pixel);
        pixel = (pixel & alphaKeep) | alphaSet | colour;
        std::memcpy(output + i * kBpp, &pixel, sizeof pixel);
      }
      return;
    }
    for (int64_t i = 0; i < count; ++i) {
      WorkPixel pixel = Format::Read(source + i * kBpp);
      pixel.R = pixel.G = pixel.B = white;
      if (opaque) pixel.A = 1.0f;
      Format::Write(pixel, output + i * kBpp);
    }
  }

  const PixelJob& job_;
  const FrameGeometry& geometry_;
  const RenderSettings& settings_;
  const KernelSet& kernels_;
  GuidePlan guides_;
  RunRecipe recipe_;     // rows outside the bars
  RunRecipe barRecipe_;  // bar rows
  int32_t count_ = 0;
  size_t rowLength_ = 0;
  bool stream_ = false;
  std::array<RowBuffer, static_cast<int>(FixedRow::Count) * 2> fixedRows_;
  RowBuffer scratch_;
};

template <PixelLayout Layout>
void RunRows(const PixelJob& job, const FrameGeometry& geometry, const RenderSettings& settings,
             const KernelSet& kernels, bool mayStream, bool mustStream) {
  RowRenderer<Layout> renderer(job, geometry, settings, kernels, mayStream, mustStream);
  renderer.Run();
  if (renderer.Streaming()) fast::FenceStreamedStores();
}

}  // namespace

void RunPixelLoopWith(const PixelJob& job, const FrameGeometry& geometry, const RenderSettings& settings,
                      VectorWidth width, StoreMode mode) {
  const int64_t bytesPerPixel = BytesPerPixel(job.layout);
  if (NeedsReferenceOrder(job, bytesPerPixel)) {
    RunReferencePixelLoop(job, geometry, settings);
    return;
  }
  const KernelSet& kernels = fast::KernelsFor(width);
  const bool mayStream = width != VectorWidth::Scalar && mode != StoreMode::Cached;
  const bool mustStream = mayStream && mode == StoreMode::Streaming;
  if (job.layout == PixelLayout::FloatRGBA)
    RunRows<PixelLayout::FloatRGBA>(job, geometry, settings, kernels, mayStream, mustStream);
  else
    RunRows<PixelLayout::ByteRGBA>(job, geometry, settings, kernels, mayStream, mustStream);
}

void ReadByteChannelsWith(VectorWidth width, const unsigned char* source, float* rgb, int32_t count) {
  fast::KernelsFor(width).readBytes(source, rgb, count);
}

}  // namespace lenstrove
