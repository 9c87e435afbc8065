#include "image/image_channels.h"

namespace lenstrove::cli {

std::vector<std::size_t> ChannelOffsets(const OIIO::ImageSpec& header) {
  std::vector<std::size_t> offsets;
  std::size_t offset = 0;
  for (int c = 0; c < header.nchannels; ++c) {
    offsets.push_back(offset);
    offset += header.channelformat(c).size();
  }
  return offsets;
}

ChannelSource PartChannel(const ImagePart& part, int channel) {
  const OIIO::stride_t pixel = static_cast<OIIO::stride_t>(part.header.pixel_bytes(true));
  return {part.samples.data() + ChannelOffsets(part.header)[static_cast<std::size_t>(channel)],
          part.header.channelformat(channel), pixel, pixel * part.header.width, part.dataWindow()};
}

ChannelSource RgbaChannel(const RgbaImage& image, int slot) {
  return {image.pixels.data() + static_cast<std::size_t>(slot) * BytesPerChannel(image.depth),
          image.depth == PixelDepth::Byte ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::FLOAT,
          static_cast<OIIO::stride_t>(image.pixelBytes()), static_cast<OIIO::stride_t>(image.rowBytes()),
          image.window()};
}

void CopyChannel(const ChannelSource& from, const PixelWindow& target, unsigned char* firstSample,
                 OIIO::TypeDesc type, OIIO::stride_t pixelStride, OIIO::stride_t rowStride) {
  const PixelWindow common = Intersection(target, from.window);
  if (common.pixelCount() <= 0) return;
  const unsigned char* source = from.corner + (common.y - from.window.y) * from.rowStride +
                                (common.x - from.window.x) * from.pixelStride;
  unsigned char* destination = firstSample + (common.y - target.y) * rowStride + (common.x - target.x) * pixelStride;
  OIIO::convert_image(1, common.width, common.height, 1, source, from.type, from.pixelStride, from.rowStride,
                      OIIO::AutoStride, destination, type, pixelStride, rowStride, OIIO::AutoStride);
}

std::string PartLabel(const ImagePart& part, std::size_t index) {
  const std::string name = part.name();
  return name.empty() ? "#" + std::to_string(index + 1) : "'" + name + "'";
}

}  // namespace lenstrove::cli
