#pragma once

// The samples of one channel wherever they lie, in a part of a file or in
// a rendered RGBA picture, and copying them between the two. Reading a
// file's picture and writing it back both go through these.

#include <cstddef>
#include <string>
#include <vector>

#include "image/image_parts.h"

namespace lenstrove::cli {

// Where each channel of a pixel of `header` starts, in bytes.
std::vector<std::size_t> ChannelOffsets(const OIIO::ImageSpec& header);

// Where the samples of one output channel come from: a channel of a part,
// or one of the rendered RGBA channels. Outside `window` they are zero.
struct ChannelSource {
  const unsigned char* corner = nullptr;  // the sample of the window's top-left pixel
  OIIO::TypeDesc type;
  OIIO::stride_t pixelStride = 0;
  OIIO::stride_t rowStride = 0;
  PixelWindow window;
};

ChannelSource PartChannel(const ImagePart& part, int channel);
ChannelSource RgbaChannel(const RgbaImage& image, int slot);

// Copies the samples of `from` that fall in `target` into one channel of a
// buffer laid out over `target`, converting the type.
void CopyChannel(const ChannelSource& from, const PixelWindow& target, unsigned char* firstSample,
                 OIIO::TypeDesc type, OIIO::stride_t pixelStride, OIIO::stride_t rowStride);

// A part as messages name it: its name in quotes, or #1, #2, ... without one.
std::string PartLabel(const ImagePart& part, std::size_t index);

}  // namespace lenstrove::cli
