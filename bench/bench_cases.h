#pragma once

// The cases and pictures the benchmarks render, shared by the timed suite
// (render_bench.cpp) and the instruction counter (render_count.cpp).

#include <cstdint>
#include <cstring>
#include <vector>

#include "render/frame_geometry.h"
#include "render/pixel_format.h"
#include "render/render_types.h"

namespace lenstrove::bench {

struct Case {
  const char* name;
  RenderSettings settings;
};

inline std::vector<Case> Cases() {
  std::vector<Case> cases;
  RenderSettings off;
  cases.push_back({"off", off});
  RenderSettings guides;
  guides.GuideThirds = guides.GuideGolden = guides.GuideCrosshair = 1;
  cases.push_back({"guides", guides});
  RenderSettings bands;
  bands.ShowSkinToneLine = bands.ShowSkinTonePatches = bands.ShowMiddleGray = 1;
  cases.push_back({"bands", bands});
  RenderSettings cropOpaque;
  cropOpaque.Crop239 = 1;
  cropOpaque.CropOpacity = 1.0;
  cases.push_back({"crop239-opacity1", cropOpaque});
  RenderSettings cropHalf = cropOpaque;
  cropHalf.CropOpacity = 0.5;
  cases.push_back({"crop239-opacity0.5", cropHalf});
  RenderSettings falseColor;
  falseColor.FalseColorMode = 1;
  cases.push_back({"false-colour", falseColor});
  RenderSettings legal;
  legal.LegalizeLevels = 1;
  cases.push_back({"legal-levels", legal});
  RenderSettings all;
  all.ShowSkinTonePatches = all.ShowSkinToneLine = all.ShowMiddleGray = 1;
  all.LegalizeLevels = all.FalseColorMode = 1;
  all.GuideThirds = all.GuideGolden = all.GuideCrosshair = 1;
  all.Crop185 = all.Crop235 = all.Crop239 = 1;
  all.CropOpacity = 0.5;
  cases.push_back({"everything", all});
  return cases;
}

// What the source shows. The smooth picture is gradients, as in most real
// footage; the noisy one is a random value in every channel of every pixel,
// so costs that depend on the data (branches, how pixels spread over the
// false-colour bands) show in the difference.
enum class Picture { Smooth, Noisy };

inline const char* PictureName(Picture picture) { return picture == Picture::Smooth ? "smooth" : "noisy"; }

// Draws the picture into width x height contiguous pixels of the layout.
inline void DrawPicture(unsigned char* pixels, int width, int height, PixelLayout layout, Picture picture) {
  uint32_t noise = 12345;
  auto random = [&noise] {
    noise = noise * 1664525u + 1013904223u;
    return static_cast<float>((noise >> 8) & 0xFF) / 255.0f;
  };
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      float pixel[4];
      if (picture == Picture::Smooth) {
        pixel[0] = static_cast<float>(x) / width;
        pixel[1] = static_cast<float>(y) / height;
        pixel[2] = static_cast<float>(x + y) / (width + height);
        pixel[3] = 1.0f;
      } else {
        for (float& channel : pixel) channel = random();
      }
      unsigned char* at = pixels + (int64_t{y} * width + x) * BytesPerPixel(layout);
      if (layout == PixelLayout::FloatRGBA)
        std::memcpy(at, pixel, sizeof pixel);
      else
        for (int c = 0; c < 4; ++c) at[c] = static_cast<unsigned char>(pixel[c] * 255.0f);
    }
}

// The geometry of a render of the whole frame, source and output alike.
inline FrameGeometry WholeFrameGeometry(const OfxRectI& bounds, int64_t rowBytes, const RenderSettings& settings) {
  FrameGeometry geometry;
  geometry.Frame = geometry.SourceBounds = geometry.OutputBounds = geometry.RenderWindow = bounds;
  geometry.SourceRowBytes = geometry.OutputRowBytes = static_cast<int32_t>(rowBytes);
  ComputeDerivedGeometry(settings, geometry);
  return geometry;
}

}  // namespace lenstrove::bench
