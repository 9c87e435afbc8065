// The fast pixel loop against the reference loop: every output byte, at every
// vector width this machine runs and with both ways of storing, must equal
// what the reference loop writes, including the bytes around the window that
// neither may touch.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "render/fast_pixel_loop.h"
#include "render/frame_geometry.h"
#include "render/pixel_format.h"
#include "render/pixel_loop.h"
#include "render/render_settings.h"
#include "render/row_kernels.h"

namespace lenstrove {
namespace {

struct Variant {
  VectorWidth width;
  StoreMode mode;
};

// Every width and store mode; without the scalar width (the stage functions
// the reference calls) when only the vector kernels are in question.
std::vector<Variant> AllVariants(bool withScalar = true) {
  std::vector<Variant> variants;
  for (VectorWidth width : SupportedVectorWidths()) {
    if (width == VectorWidth::Scalar && !withScalar) continue;
    variants.push_back({width, StoreMode::Cached});
    if (width != VectorWidth::Scalar) variants.push_back({width, StoreMode::Streaming});
  }
  return variants;
}

std::string Describe(const Variant& v) {
  return std::string(VectorWidthName(v.width)) + (v.mode == StoreMode::Streaming ? "/streaming" : "/cached");
}

// One image in its own allocation, with guard bytes around it and rows that
// may be padded or run upward through memory.
struct Buffer {
  std::vector<unsigned char> bytes;
  ImagePlane plane;
};

Buffer MakeBuffer(const OfxRectI& bounds, int64_t bytesPerPixel, int64_t padding, bool upward, int64_t misalign,
                  std::mt19937_64& rng) {
  const int64_t width = int64_t{bounds.x2} - bounds.x1;
  const int64_t height = int64_t{bounds.y2} - bounds.y1;
  const int64_t stride = width * bytesPerPixel + padding;
  constexpr int64_t kGuard = 48;
  Buffer b;
  b.bytes.resize(static_cast<size_t>(stride * height + 2 * kGuard + misalign));
  for (size_t i = 0; i < b.bytes.size(); i += 8) {
    const uint64_t random = rng();
    std::memcpy(&b.bytes[i], &random, std::min<size_t>(8, b.bytes.size() - i));
  }
  unsigned char* first = b.bytes.data() + kGuard + misalign;
  b.plane.bounds = bounds;
  b.plane.rowBytes = upward ? -stride : stride;
  b.plane.origin = upward ? first + (height - 1) * stride : first;
  return b;
}

uint32_t RandomNaNBits(std::mt19937_64& rng) {
  const uint32_t sign = (rng() & 1) ? 0x80000000u : 0u;
  if (rng() & 1) return sign | 0x7FC00000u | static_cast<uint32_t>(rng() & 0x3FFFFF);   // quiet
  return sign | 0x7F800000u | static_cast<uint32_t>(1 + rng() % 0x3FFFFF);             // signalling
}

float BitsToFloat(uint32_t bits) {
  float f;
  std::memcpy(&f, &bits, sizeof f);
  return f;
}

float SpecialFloat(std::mt19937_64& rng) {
  const float inf = std::numeric_limits<float>::infinity();
  switch (rng() % 8) {
    case 0: return BitsToFloat(RandomNaNBits(rng));
    case 1: return (rng() & 1) ? inf : -inf;
    case 2: return (rng() & 1) ? 0.0f : -0.0f;
    case 3: return BitsToFloat(static_cast<uint32_t>(rng() & 0x807FFFFF));  // subnormal
    case 4: return BitsToFloat(static_cast<uint32_t>(rng()));
    case 5: return (rng() & 1) ? 3.0e38f : -3.0e38f;
    case 6: {
      // The false-colour band edges and their neighbours.
      static const float kEdges[] = {0.05f, 0.1f, 0.4f, 0.45f, 0.52f, 0.58f, 0.95f, 1.0f};
      const float e = kEdges[rng() % 8];
      return (rng() & 1) ? e : std::nextafter(e, (rng() & 1) ? 2.0f : -2.0f);
    }
    default: return -std::ldexp(1.0f, static_cast<int>(rng() % 40) - 20);
  }
}

// Fills the source with pixels of the layout. In float images, special
// values appear at a rate chosen per case, so some vectors hold none.
void FillSource(Buffer& b, PixelLayout layout, std::mt19937_64& rng) {
  if (layout == PixelLayout::ByteRGBA) return;  // random bytes already are every byte value
  const OfxRectI& r = b.plane.bounds;
  const uint64_t specialRate = std::vector<uint64_t>{0, 3, 40, 400}[rng() % 4];
  std::uniform_real_distribution<float> ordinary(-0.25f, 1.25f);
  for (int64_t y = r.y1; y < r.y2; ++y) {
    unsigned char* row = b.plane.origin + (y - r.y1) * b.plane.rowBytes;
    for (int64_t i = 0; i < (int64_t{r.x2} - r.x1) * 4; ++i) {
      const float v = (specialRate != 0 && rng() % specialRate == 0) ? SpecialFloat(rng) : ordinary(rng);
      std::memcpy(row + i * 4, &v, sizeof v);
    }
  }
}

RenderSettings RandomSettings(std::mt19937_64& rng) {
  auto toggle = [&rng]() -> int32_t {
    const uint64_t r = rng() % 10;
    if (r < 5) return 0;
    if (r < 9) return 1;
    return (rng() & 1) ? -7 : 2;  // any non-zero value means on
  };
  auto number = [&rng](double low, double high) {
    switch (rng() % 16) {
      case 0: return std::numeric_limits<double>::quiet_NaN();
      case 1: return std::numeric_limits<double>::infinity();
      case 2: return -std::numeric_limits<double>::infinity();
      case 3: return low - (high - low) * std::uniform_real_distribution<double>(0, 2)(rng);
      case 4: return high + (high - low) * std::uniform_real_distribution<double>(0, 2)(rng);
      default: return std::uniform_real_distribution<double>(low, high)(rng);
    }
  };
  RenderSettings s;
  s.ShowSkinTonePatches = toggle();
  s.ShowSkinToneLine = toggle();
  s.ShowMiddleGray = toggle();
  s.LegalizeLevels = toggle();
  s.FalseColorMode = toggle();
  s.GuideThirds = toggle();
  s.GuideGolden = toggle();
  s.GuideCrosshair = toggle();
  s.Crop185 = toggle();
  s.Crop235 = toggle();
  s.Crop239 = toggle();
  static const double kOpacities[] = {0.0, 0.5, 0.99, static_cast<double>(0.99f), 0.995, 0.9999999999, 1.0};
  s.CropOpacity = (rng() & 1) ? kOpacities[rng() % 7] : number(0.0, 1.0);
  s.LineThickness = number(0.0, 100.0);
  s.SkinLinePos = number(0.0, 1.0);
  s.GrayLinePos = number(0.0, 1.0);
  SanitizeRenderSettings(s);
  return s;
}

std::string DescribeSettings(const RenderSettings& s) {
  std::ostringstream o;
  o << "patches=" << s.ShowSkinTonePatches << " line=" << s.ShowSkinToneLine << " gray=" << s.ShowMiddleGray
    << " legal=" << s.LegalizeLevels << " falseColour=" << s.FalseColorMode << " thirds=" << s.GuideThirds
    << " golden=" << s.GuideGolden << " crosshair=" << s.GuideCrosshair << " crop185=" << s.Crop185
    << " crop235=" << s.Crop235 << " crop239=" << s.Crop239 << " opacity=" << s.CropOpacity
    << " thickness=" << s.LineThickness << " skinPos=" << s.SkinLinePos << " grayPos=" << s.GrayLinePos;
  return o.str();
}

FrameGeometry MakeGeometry(const ImagePlane& source, const ImagePlane& output, const OfxRectI& window,
                           const RenderSettings& settings) {
  FrameGeometry g;
  g.Frame = source.bounds;
  g.SourceBounds = source.bounds;
  g.SourceRowBytes = static_cast<int32_t>(source.rowBytes);
  g.OutputBounds = output.bounds;
  g.OutputRowBytes = static_cast<int32_t>(output.rowBytes);
  g.RenderWindow = window;
  ComputeDerivedGeometry(settings, g);
  return g;
}

ptrdiff_t FirstDifference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i]) return static_cast<ptrdiff_t>(i);
  return -1;
}

// Runs the reference and every variant from the same starting buffers and
// requires the same bytes everywhere. With inPlace the output is the source.
void ExpectSameAsReference(PixelLayout layout, const Buffer& source, const Buffer& output, bool inPlace,
                           const OfxRectI& window, const RenderSettings& settings, const std::string& context,
                           const std::vector<Variant>& variants = AllVariants()) {
  const ImagePlane& outputPlane = inPlace ? source.plane : output.plane;
  const std::optional<PixelJob> planned = PlanPixelJob(layout, source.plane, outputPlane, window);
  if (!planned) return;
  const FrameGeometry geometry = MakeGeometry(source.plane, outputPlane, window, settings);

  // Each run gets fresh copies; the job is re-pointed at them.
  auto run = [&](auto&& loop) {
    Buffer s = source, o = output;
    PixelJob job = *planned;
    job.source.origin = s.bytes.data() + (source.plane.origin - source.bytes.data());
    job.output.origin = inPlace ? job.source.origin : o.bytes.data() + (output.plane.origin - output.bytes.data());
    loop(job, geometry);
    return std::make_pair(s.bytes, o.bytes);
  };
  const auto expected = run([&](const PixelJob& job, const FrameGeometry& g) {
    RunReferencePixelLoop(job, g, settings);
  });
  for (const Variant& variant : variants) {
    const auto actual = run([&](const PixelJob& job, const FrameGeometry& g) {
      RunPixelLoopWith(job, g, settings, variant.width, variant.mode);
    });
    const ptrdiff_t inSource = FirstDifference(expected.first, actual.first);
    const ptrdiff_t inOutput = FirstDifference(expected.second, actual.second);
    ASSERT_EQ(inSource, -1) << context << " " << Describe(variant) << ": source buffer byte " << inSource
                            << " differs\n" << DescribeSettings(settings);
    ASSERT_EQ(inOutput, -1) << context << " " << Describe(variant) << ": output buffer byte " << inOutput
                            << " differs (reference " << int{expected.second[inOutput]} << ", fast "
                            << int{actual.second[inOutput]} << ")\n" << DescribeSettings(settings);
  }
}

// The copy for rows no stage changes rests on this: a byte read as b/255 and
// written back by clamping and truncating v*255 is the same byte.
TEST(FastPathTest, EveryByteSurvivesTheTripThroughFloat) {
  using Format = PixelFormat<PixelLayout::ByteRGBA>;
  for (int b = 0; b < 256; ++b)
    EXPECT_EQ(Format::ToByte(Format::ToChannel(static_cast<unsigned char>(b))), b) << "byte " << b;
}

// The vector widths read a byte without dividing by 255. Every value in each
// of red, green and blue must read as the division gives it, to the bit.
TEST(FastPathTest, EveryByteReadsAsItsDivisionAtEveryWidth) {
  constexpr int kPixels = 256;
  unsigned char pixels[kPixels * 4];
  for (int b = 0; b < kPixels; ++b) {
    pixels[b * 4 + 0] = static_cast<unsigned char>(b);
    pixels[b * 4 + 1] = static_cast<unsigned char>(255 - b);
    pixels[b * 4 + 2] = static_cast<unsigned char>(b * 97);  // every value, in another order
    pixels[b * 4 + 3] = static_cast<unsigned char>(b ^ 0x5A);
  }
  for (VectorWidth width : SupportedVectorWidths()) {
    float rgb[kPixels * 3];
    ReadByteChannelsWith(width, pixels, rgb, kPixels);
    for (int i = 0; i < kPixels * 3; ++i) {
      const unsigned char stored = pixels[i / 3 * 4 + i % 3];
      const float expected = static_cast<float>(stored) / 255.0f;
      ASSERT_EQ(std::memcmp(&rgb[i], &expected, sizeof expected), 0)
          << VectorWidthName(width) << ": byte " << int{stored} << " in channel " << i % 3 << " reads as "
          << rgb[i];
    }
  }
}

TEST(FastPathTest, ListsTheWidthsThisMachineRuns) {
  const VectorWidthList widths = SupportedVectorWidths();
  ASSERT_GE(widths.size(), 2u);
  EXPECT_EQ(widths[0], VectorWidth::Scalar);
#if defined(__aarch64__)
  EXPECT_EQ(widths[1], VectorWidth::NEON);
  EXPECT_EQ(widths.size(), 2u);
#else
  EXPECT_EQ(widths[1], VectorWidth::SSE2);
  const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
  const bool avx512 = avx2 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                      __builtin_cpu_supports("avx512dq");
  EXPECT_EQ(widths.size(), 2u + avx2 + avx512);
  if (avx512) {
    EXPECT_EQ(widths[3], VectorWidth::AVX512);
  }
#endif
}

// The widths with lookups find a luma's false-colour bucket by its cell;
// tables that cannot do that send every false-colour run through the stages.
TEST(FastPathTest, FalseColourCellsFindEveryBucket) {
  fast::FalseColorCells cells;
  EXPECT_TRUE(fast::MakeFalseColorCells(cells, fast::CellRule::ByLuma));
  EXPECT_TRUE(fast::MakeFalseColorCells(cells, fast::CellRule::ByGrayByte));
}

// The width a render uses: the widest the machine has, capped by name.
TEST(FastPathTest, MaxIsaCapsTheChosenWidth) {
  const VectorWidthList all = SupportedVectorWidths();
#if defined(__aarch64__)
  const VectorWidthList widths{{VectorWidth::Scalar, VectorWidth::NEON}, 2};
  EXPECT_EQ(CapVectorWidth(widths, "neon"), VectorWidth::NEON);
  EXPECT_EQ(CapVectorWidth(widths, "avx2"), VectorWidth::NEON);  // another family's name is ignored
#else
  const VectorWidthList widths{{VectorWidth::Scalar, VectorWidth::SSE2, VectorWidth::AVX2}, 3};  // no AVX-512
  EXPECT_EQ(CapVectorWidth(widths, "avx512"), VectorWidth::AVX2);  // never above what the machine has
  EXPECT_EQ(CapVectorWidth(widths, "AVX2"), VectorWidth::AVX2);
  EXPECT_EQ(CapVectorWidth(widths, "sse2"), VectorWidth::SSE2);
  EXPECT_EQ(CapVectorWidth(widths, "neon"), VectorWidth::AVX2);
#endif
  EXPECT_EQ(CapVectorWidth(widths, "scalar"), VectorWidth::Scalar);
  for (const char* ignored : {"", "avx", "sse2 ", "avx2x", "fast"})
    EXPECT_EQ(CapVectorWidth(widths, ignored), widths.back()) << '"' << ignored << '"';
  EXPECT_EQ(CapVectorWidth(widths, nullptr), widths.back());
  // What this process was started with, read when it was loaded. CTest
  // also runs this test under each width's cap.
  EXPECT_EQ(ChosenVectorWidth(), CapVectorWidth(all, std::getenv("LENSTROVE_MAX_ISA")));
}

// Byte images: every red and green value against each other for a spread of
// blue values, through each colour operation and the bar darkening.
TEST(FastPathTest, ByteColourOperationsOverAllChannelValues) {
  std::mt19937_64 rng(7);
  const OfxRectI bounds{0, 0, 256, 256};
  Buffer source = MakeBuffer(bounds, 4, 0, false, 0, rng);
  const int blueValues[] = {0, 1, 37, 128, 200, 254, 255};
  for (int blue : blueValues) {
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) {
        unsigned char* p = source.plane.origin + y * source.plane.rowBytes + x * 4;
        p[0] = static_cast<unsigned char>(x);
        p[1] = static_cast<unsigned char>(y);
        p[2] = static_cast<unsigned char>(blue);
        p[3] = static_cast<unsigned char>(x ^ y);
      }
    Buffer output = MakeBuffer(bounds, 4, 0, false, 0, rng);
    for (int mode = 0; mode < 6; ++mode) {
      RenderSettings s;
      s.FalseColorMode = mode == 0 || mode == 3 || mode == 5;
      s.LegalizeLevels = mode == 1 || mode == 4 || mode == 5;
      // A 2.39 crop of this square image makes bars of the top and bottom
      // 74 rows, so both bar and visible rows are checked.
      s.Crop239 = mode >= 2;
      s.CropOpacity = mode == 4 ? 0.995 : 0.37;
      ExpectSameAsReference(PixelLayout::ByteRGBA, source, output, false, bounds, s,
                            "blue " + std::to_string(blue) + " mode " + std::to_string(mode));
    }
  }
}

// Byte false colour depends on red, green and blue alone: every one of the
// 2^24 colours, each once, outside bars, then the top rows (mostly bars,
// under a crop) again on them. The vector widths only: the scalar width is
// the reference's own stage functions.
TEST(FastPathTest, EveryByteColourThroughFalseColour) {
  std::mt19937_64 rng(3);
  const OfxRectI bounds{0, 0, 4096, 4096};
  Buffer source = MakeBuffer(bounds, 4, 0, false, 0, rng);
  for (int y = 0; y < 4096; ++y)
    for (int x = 0; x < 4096; ++x) {
      unsigned char* p = source.plane.origin + y * source.plane.rowBytes + x * 4;
      p[0] = static_cast<unsigned char>(x);
      p[1] = static_cast<unsigned char>(y);
      p[2] = static_cast<unsigned char>((x >> 8) | (y >> 8) << 4);
    }
  const Buffer output = MakeBuffer(bounds, 4, 0, false, 0, rng);
  for (int crop = 0; crop < 2; ++crop) {
    RenderSettings s;
    s.FalseColorMode = 1;
    s.Crop239 = crop;
    s.CropOpacity = 0.37;
    const OfxRectI window{0, 0, 4096, crop ? 1200 : 4096};  // a 2.39 crop makes bars of rows 0 to 1190
    ExpectSameAsReference(PixelLayout::ByteRGBA, source, output, false, window, s, "crop " + std::to_string(crop),
                          AllVariants(false));
  }
}

// Byte false colour in integers leaves lanes whose luma sits exactly at a
// band edge or a gray byte's step to the float route, and a run where that
// keeps happening (neutral grays, R = G = B, all sit at a step) to the float
// route altogether; bar rows check their gray byte against a margin. Neutral
// ramps between rows of colours, outside and on bars, at a spread of opacities.
TEST(FastPathTest, ByteFalseColourOfNeutralGraysAndBars) {
  std::mt19937_64 rng(23);
  const OfxRectI bounds{0, 0, 256, 256};  // a 2.39 crop makes bars of the top and bottom 74 rows
  Buffer source = MakeBuffer(bounds, 4, 0, false, 0, rng);
  for (int y = 0; y < 256; ++y)
    for (int x = 0; x < 256; ++x) {
      unsigned char* p = source.plane.origin + y * source.plane.rowBytes + x * 4;
      const bool neutral = y % 4 != 0;
      p[0] = static_cast<unsigned char>(x);
      p[1] = static_cast<unsigned char>(neutral ? x : y);
      p[2] = static_cast<unsigned char>(neutral ? x : x ^ y);
    }
  const Buffer output = MakeBuffer(bounds, 4, 0, false, 0, rng);
  for (double opacity : {0.0, 0.13, 0.5, 0.77, 0.98}) {
    RenderSettings s;
    s.FalseColorMode = 1;
    s.Crop239 = 1;
    s.CropOpacity = opacity;
    ExpectSameAsReference(PixelLayout::ByteRGBA, source, output, false, bounds, s,
                          "opacity " + std::to_string(opacity));
    if (HasFatalFailure()) return;
  }
}

// Bar rows of byte images darken by a multiply found per render, or by the
// float route at the few opacities no multiplier matches: every byte value
// at a sweep of opacities, opaque bars included.
TEST(FastPathTest, ByteBarsAtEveryOpacity) {
  std::mt19937_64 rng(17);
  const OfxRectI bounds{0, 0, 256, 120};  // 2.39 bars: the top and bottom 6 rows
  Buffer source = MakeBuffer(bounds, 4, 0, false, 0, rng);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 256; ++x)
      for (int c = 0; c < 3; ++c) source.plane.origin[y * source.plane.rowBytes + x * 4 + c] =
          static_cast<unsigned char>(x * (1 + 2 * c) + y);
  const Buffer output = MakeBuffer(bounds, 4, 0, false, 0, rng);
  for (int step = 0; step <= 1000; step += 3) {
    RenderSettings s;
    s.Crop239 = 1;
    s.CropOpacity = step / 1000.0;
    ExpectSameAsReference(PixelLayout::ByteRGBA, source, output, false, bounds, s,
                          "opacity " + std::to_string(s.CropOpacity));
    if (HasFatalFailure()) return;
  }
}

// Float images: every combination of a set of special values in red, green
// and blue, with special alphas, through each colour operation and bars that
// multiply by zero (infinities become NaN, signs of zero follow the input).
TEST(FastPathTest, FloatSpecialValuesThroughEveryOperation) {
  const float inf = std::numeric_limits<float>::infinity();
  const float values[] = {0.0f,  -0.0f, 1.0f,  0.5f,  0.05f, 0.95f,  inf,          -inf,
                          BitsToFloat(0x7FC00001u), BitsToFloat(0xFFC12345u), BitsToFloat(0x7F800001u),
                          BitsToFloat(0xFFA00000u), 1e-40f, -2.5f, 3.0e38f, 0.45f};
  constexpr int n = sizeof values / sizeof values[0];
  // Tall and narrow, so that a crop makes bars of all but a few middle rows.
  const OfxRectI bounds{-3, 5, -3 + n, 5 + n * n};
  std::mt19937_64 rng(11);
  Buffer source = MakeBuffer(bounds, 16, 0, false, 0, rng);
  for (int y = 0; y < n * n; ++y)
    for (int x = 0; x < n; ++x) {
      const float pixel[4] = {values[x], values[y % n], values[y / n], values[(x + y) % n]};
      std::memcpy(source.plane.origin + y * source.plane.rowBytes + x * 16, pixel, sizeof pixel);
    }
  Buffer output = MakeBuffer(bounds, 16, 0, false, 0, rng);
  const double opacities[] = {1.0, 0.5, 0.0, 0.995};
  for (int op = 0; op < 3; ++op)
    for (double opacity : opacities)
      for (int crop = 0; crop < 2; ++crop) {
        RenderSettings s;
        s.FalseColorMode = op == 1;
        s.LegalizeLevels = op == 2;
        s.Crop185 = crop;
        s.CropOpacity = opacity;
        ExpectSameAsReference(PixelLayout::FloatRGBA, source, output, false, bounds, s,
                              "op " + std::to_string(op) + " opacity " + std::to_string(opacity));
      }
}

// Random frames: sizes that leave every vector tail, offset and mismatched
// bounds, padded and upward rows, windows reaching outside, every switch
// combination and doubles beyond their ranges, in place and not.
TEST(FastPathTest, RandomFramesMatchTheReference) {
  constexpr int kCases = 2500;
  std::mt19937_64 rng(20240611);
  for (int c = 0; c < kCases; ++c) {
    const PixelLayout layout = (rng() & 1) ? PixelLayout::FloatRGBA : PixelLayout::ByteRGBA;
    const int64_t bpp = BytesPerPixel(layout);
    const bool large = rng() % 40 == 0;
    const int32_t width = 1 + static_cast<int32_t>(rng() % (large ? 400 : 70));
    const int32_t height = 1 + static_cast<int32_t>(rng() % (large ? 120 : 45));
    const int32_t x1 = static_cast<int32_t>(rng() % 100) - 50;
    const int32_t y1 = static_cast<int32_t>(rng() % 100) - 50;
    const OfxRectI sourceBounds{x1, y1, x1 + width, y1 + height};
    OfxRectI outputBounds = sourceBounds;
    if (rng() % 3 == 0) {
      outputBounds.x1 += static_cast<int32_t>(rng() % 9) - 4;
      outputBounds.y1 += static_cast<int32_t>(rng() % 9) - 4;
      outputBounds.x2 += static_cast<int32_t>(rng() % 9) - 4;
      outputBounds.y2 += static_cast<int32_t>(rng() % 9) - 4;
      if (outputBounds.x2 <= outputBounds.x1) outputBounds.x2 = outputBounds.x1 + 1;
      if (outputBounds.y2 <= outputBounds.y1) outputBounds.y2 = outputBounds.y1 + 1;
    }
    OfxRectI window = sourceBounds;
    if (rng() % 2 == 0) {
      window.x1 = x1 + static_cast<int32_t>(rng() % (width + 8)) - 6;
      window.y1 = y1 + static_cast<int32_t>(rng() % (height + 8)) - 6;
      window.x2 = window.x1 + static_cast<int32_t>(rng() % (width + 10));
      window.y2 = window.y1 + static_cast<int32_t>(rng() % (height + 10));
    }
    auto padding = [&rng, bpp]() -> int64_t {
      switch (rng() % 4) {
        case 0: return bpp * static_cast<int64_t>(rng() % 4);
        case 1: return static_cast<int64_t>(rng() % 37);
        default: return 0;
      }
    };
    Buffer source = MakeBuffer(sourceBounds, bpp, padding(), rng() % 4 == 0, static_cast<int64_t>(rng() % 16), rng);
    FillSource(source, layout, rng);
    Buffer output = MakeBuffer(outputBounds, bpp, padding(), rng() % 4 == 0, static_cast<int64_t>(rng() % 16), rng);
    const bool inPlace = rng() % 10 == 0;
    const RenderSettings settings = RandomSettings(rng);
    std::ostringstream context;
    context << "case " << c << (layout == PixelLayout::FloatRGBA ? " float " : " byte ") << width << "x" << height
            << " at " << x1 << "," << y1 << (inPlace ? " in place" : "");
    ExpectSameAsReference(layout, source, output, inPlace, window, settings, context.str());
    if (HasFatalFailure()) return;
  }
}

// Output rows that overlap the source rows without being the same pixels:
// the result depends on the order pixels are visited, which the fast loop
// must reproduce as well.
TEST(FastPathTest, OverlappingImagesMatchTheReference) {
  std::mt19937_64 rng(5);
  for (int c = 0; c < 40; ++c) {
    const PixelLayout layout = (c & 1) ? PixelLayout::FloatRGBA : PixelLayout::ByteRGBA;
    const int64_t bpp = BytesPerPixel(layout);
    const OfxRectI bounds{0, 0, 23, 9};
    Buffer shared = MakeBuffer(OfxRectI{0, 0, 23, 11}, bpp, 0, false, 0, rng);
    FillSource(shared, layout, rng);
    Buffer source = shared;
    source.plane.bounds = bounds;
    // The output shares the allocation, shifted by a few bytes or rows.
    Buffer output = shared;
    output.plane.bounds = bounds;
    const int64_t shift = (c % 4 == 0) ? shared.plane.rowBytes : static_cast<int64_t>(rng() % 40) + 1;
    RenderSettings settings = RandomSettings(rng);
    settings.LegalizeLevels = 1;
    const std::optional<PixelJob> planned = PlanPixelJob(layout, source.plane, source.plane, bounds);
    ASSERT_TRUE(planned);
    const FrameGeometry geometry = MakeGeometry(source.plane, source.plane, bounds, settings);
    std::vector<unsigned char> expected = shared.bytes, actual = shared.bytes;
    auto jobOn = [&](std::vector<unsigned char>& bytes) {
      PixelJob job = *planned;
      job.source.origin = bytes.data() + (shared.plane.origin - shared.bytes.data());
      job.output.origin = job.source.origin + shift;
      return job;
    };
    RunReferencePixelLoop(jobOn(expected), geometry, settings);
    for (const Variant& variant : AllVariants()) {
      actual = shared.bytes;
      RunPixelLoopWith(jobOn(actual), geometry, settings, variant.width, variant.mode);
      ASSERT_EQ(FirstDifference(expected, actual), -1) << "case " << c << " " << Describe(variant);
    }
  }
}

}  // namespace
}  // namespace lenstrove
