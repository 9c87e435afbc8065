// The false-colour view and the legal-levels remap, over every byte value
// and on float pictures outside 0..1.

#include <gtest/gtest.h>

#include <cmath>
#include <optional>
#include <tuple>

#include "stages/stage_test_support.h"

namespace lenstrove::testing {
namespace {

// One column per byte value: gray pixels with a varying alpha.
host::Image GrayRamp() {
  return ByteImage({0, 0, 256, 1}, [](int x, int) { return Rgba8{uint8_t(x), uint8_t(x), uint8_t(x), uint8_t(255 - x)}; });
}

TEST(LegalizeLevels, MapsEveryByteIntoVideoLevels) {
  const host::Image output = RenderBytes(GrayRamp(), {{"LegalizeLevels", 1}});
  for (int b = 0; b < 256; ++b) {
    const uint8_t legal = uint8_t((16 * 255 + b * 219) / 255);  // integer part of 16 + b * 219 / 255
    EXPECT_EQ(BytePixel(output, b, 0), (Rgba8{legal, legal, legal, uint8_t(255 - b)})) << "byte " << b;
  }
  EXPECT_EQ(BytePixel(output, 0, 0).r, 16);
  EXPECT_EQ(BytePixel(output, 1, 0).r, 16);
  EXPECT_EQ(BytePixel(output, 128, 0).r, 125);
  EXPECT_EQ(BytePixel(output, 254, 0).r, 234);
  EXPECT_EQ(BytePixel(output, 255, 0).r, 235);
}

TEST(FalseColor, PaintsTheLumaBandsOfAGrayRamp) {
  const host::Image output = RenderBytes(GrayRamp(), {{"FalseColorMode", 1}});
  const Rgba8 purple{127, 0, 127, 0}, blue{0, 0, 255, 0}, green{0, 255, 0, 0}, pink{255, 102, 153, 0}, red{255, 0, 0, 0};
  struct Band {
    int first, last;
    std::optional<Rgba8> colour;  // none: a gray of the pixel's own luma
  };
  const Band bands[] = {{0, 12, purple},   {13, 25, blue},      {26, 101, {}}, {102, 114, green},
                        {115, 132, {}},    {133, 147, pink},    {148, 242, {}}, {243, 255, red}};
  for (const Band& band : bands)
    for (int b = band.first; b <= band.last; ++b) {
      Rgba8 pixel = BytePixel(output, b, 0);
      EXPECT_EQ(pixel.a, 255 - b) << "alpha is untouched";
      pixel.a = 0;
      if (band.colour) {
        EXPECT_EQ(pixel, *band.colour) << "byte " << b;
      } else {
        // The luma sum can land a hair below the gray it came from.
        EXPECT_TRUE(pixel.r == pixel.g && pixel.g == pixel.b && (pixel.r == b || pixel.r == b - 1)) << "byte " << b << " " << pixel;
      }
    }
  EXPECT_EQ(BytePixel(output, 53, 0).r, 52);
  EXPECT_EQ(BytePixel(output, 122, 0).r, 121);
  EXPECT_EQ(BytePixel(output, 128, 0).r, 128);
}

TEST(FalseColor, WinsOverLegalizeLevels) {
  const host::Image both = RenderBytes(GrayRamp(), {{"FalseColorMode", 1}, {"LegalizeLevels", 1}});
  const host::Image alone = RenderBytes(GrayRamp(), {{"FalseColorMode", 1}});
  EXPECT_EQ(PixelBytes(both), PixelBytes(alone));
  EXPECT_EQ(BytePixel(both, 0, 0), (Rgba8{127, 0, 127, 255}));
}

TEST(FalseColor, WeighsTheChannelsByBt709) {
  // Pure primaries: luma 0.2126 (gray), 0.7152 (gray), 0.0722 (blue).
  const host::Image source = ByteImage({0, 0, 3, 1}, [](int x, int) {
    return Rgba8{uint8_t(x == 0 ? 255 : 0), uint8_t(x == 1 ? 255 : 0), uint8_t(x == 2 ? 255 : 0), 255};
  });
  const host::Image output = RenderBytes(source, {{"FalseColorMode", 1}});
  EXPECT_EQ(BytePixel(output, 0, 0), (Rgba8{54, 54, 54, 255}));
  EXPECT_EQ(BytePixel(output, 1, 0), (Rgba8{182, 182, 182, 255}));
  EXPECT_EQ(BytePixel(output, 2, 0), (Rgba8{0, 0, 255, 255}));
}

TEST(ColourOperations, FloatPicturesAreNeitherClampedNorSaturated) {
  const std::vector<RgbaF> pixels{{1.2f, 1.2f, 1.2f, 0.3f}, {-0.1f, -0.1f, -0.1f, 0.3f}, {2.0f, 1.5f, -0.1f, 0.3f}};
  const host::Image source = FloatImage({0, 0, 3, 1}, [&](int x, int) { return pixels[x]; });

  const host::Image falseColour = RenderFloats(source, {{"FalseColorMode", 1}});
  const RgbaF red = FloatPixel(falseColour, 0, 0), purple = FloatPixel(falseColour, 1, 0);
  EXPECT_EQ(std::make_tuple(red.r, red.g, red.b, red.a), std::make_tuple(1.0f, 0.0f, 0.0f, 0.3f));
  EXPECT_EQ(std::make_tuple(purple.r, purple.g, purple.b, purple.a), std::make_tuple(0.5f, 0.0f, 0.5f, 0.3f));

  const host::Image legal = RenderFloats(source, {{"LegalizeLevels", 1}});
  const RgbaF remapped = FloatPixel(legal, 2, 0);
  EXPECT_NEAR(remapped.r, 1.7803922, 1e-7);
  EXPECT_NEAR(remapped.g, 1.3509804, 1e-7);
  EXPECT_NEAR(remapped.b, -0.0231372, 1e-7);
  EXPECT_EQ(remapped.a, 0.3f);
  // The product is rounded to single precision before the offset is added.
  EXPECT_EQ(remapped.r, 2.0f * (219.0f / 255.0f) + 16.0f / 255.0f);
}

}  // namespace
}  // namespace lenstrove::testing
