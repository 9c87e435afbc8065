#pragma once

// Image files in and out through OpenImageIO. In memory a picture is RGBA,
// one byte or one float per channel, rows packed tightly and stored as the
// file stores them: top row first.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <OpenImageIO/typedesc.h>

namespace lenstrove::cli {

enum class PixelDepth { Byte, Float };

std::size_t BytesPerChannel(PixelDepth depth);

struct RgbaImage {
  int width = 0;
  int height = 0;
  PixelDepth depth = PixelDepth::Byte;
  std::vector<unsigned char> pixels;

  RgbaImage() = default;
  RgbaImage(int width, int height, PixelDepth depth);
  std::size_t pixelBytes() const { return 4 * BytesPerChannel(depth); }
  std::size_t rowBytes() const { return pixelBytes() * static_cast<std::size_t>(width); }
  // Row 0 is the top row.
  unsigned char* fileRow(int row) { return pixels.data() + rowBytes() * static_cast<std::size_t>(row); }
  const unsigned char* fileRow(int row) const {
    return pixels.data() + rowBytes() * static_cast<std::size_t>(row);
  }
  bool alphaIsOpaque() const;
};

// What a file's header says, read without touching its pixels.
struct ImageFileInfo {
  int width = 0;
  int height = 0;
  int channels = 0;
  OIIO::TypeDesc storage;  // the type of the file's samples
  std::string formatName;  // "png", "openexr", ...
  bool hasAlpha() const { return channels == 2 || channels >= 4; }
  // 8-bit files render at byte depth; 16-bit, half and float files at float.
  PixelDepth naturalDepth() const;
};

// Throws std::runtime_error naming the file when it is missing, unreadable,
// not a picture, or larger than pixelLimit pixels.
ImageFileInfo ReadImageInfo(const std::string& path, std::int64_t pixelLimit);

// The first picture of the file as RGBA at the depth asked for. Files
// without alpha gain an opaque one; gray files are spread over R, G and B.
RgbaImage ReadRgbaImage(const std::string& path, PixelDepth depth, std::int64_t pixelLimit);

struct WriteRequest {
  // The sample type wanted; a format that cannot store it gets the nearest
  // type it can (8-bit PNG for float data, half OpenEXR for 8-bit data).
  OIIO::TypeDesc storage = OIIO::TypeDesc::UINT8;
  // Alpha is written when it carries information or the source had one,
  // and only to formats that can hold it.
  bool sourceHadAlpha = true;
};

// Writes under a temporary name in the same folder and renames it into
// place, so OUT is either the whole new picture or not touched. Throws
// std::runtime_error naming the file on any failure, leaving nothing behind.
void WriteRgbaImage(const std::string& path, const RgbaImage& image, const WriteRequest& request);

// The sample type a render at this depth should be stored as, given the
// input file's own type: the input's precision is kept where possible.
OIIO::TypeDesc StorageForOutput(PixelDepth renderDepth, OIIO::TypeDesc inputStorage);

}  // namespace lenstrove::cli
