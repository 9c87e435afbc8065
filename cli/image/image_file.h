#pragma once

// Image files in and out through OpenImageIO. In memory a picture is RGBA,
// one byte or one float per channel, rows packed tightly and stored as the
// file stores them: top row first.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <OpenImageIO/imageio.h>
#include <OpenImageIO/typedesc.h>

namespace lenstrove::cli {

enum class PixelDepth { Byte, Float };

// How a picture's colour stands to its alpha: straight (PNG, TIFF with
// unassociated alpha, movies), already multiplied by it (OpenEXR, TIFF with
// associated alpha), or no alpha to speak of.
enum class AlphaMode { Straight, Premultiplied, Opaque };

// A rectangle of pixels in file coordinates: (x, y) is the top-left pixel
// and y grows downward, as image files count rows.
struct PixelWindow {
  int x = 0, y = 0, width = 0, height = 0;
  std::int64_t right() const { return std::int64_t{x} + width; }    // one past the last column
  std::int64_t bottom() const { return std::int64_t{y} + height; }  // one past the last row
  std::int64_t pixelCount() const { return std::int64_t{width} * height; }
  bool contains(const PixelWindow& other) const;
  bool operator==(const PixelWindow& other) const;
};

// The smallest window holding both; empty windows are ignored.
PixelWindow Union(const PixelWindow& a, const PixelWindow& b);
PixelWindow Intersection(const PixelWindow& a, const PixelWindow& b);

std::size_t BytesPerChannel(PixelDepth depth);

struct RgbaImage {
  int width = 0;
  int height = 0;
  PixelDepth depth = PixelDepth::Byte;
  std::vector<unsigned char> pixels;
  // Where the pixels lie (the data window) and the frame the picture is
  // composed in (the display window, its format). Files without windows
  // have both at (0, 0) and of the pixels' size.
  int x = 0, y = 0;
  PixelWindow display;
  AlphaMode alphaMode = AlphaMode::Straight;

  RgbaImage() = default;
  RgbaImage(int width, int height, PixelDepth depth);
  PixelWindow window() const { return {x, y, width, height}; }
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
  double pixelAspect = 1.0;  // a pixel's width over its height
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

// ---- shared with the readers and writers of whole files (image_parts) ----

[[noreturn]] void FailRead(const std::string& path, const std::string& why);
[[noreturn]] void FailWrite(const std::string& path, const std::string& why);
std::string FirstLine(std::string text);

// A file opened for reading, with the header of its first part.
struct OpenedInput {
  std::unique_ptr<OIIO::ImageInput> reader;
  OIIO::ImageSpec header;
};
OpenedInput OpenInput(const std::string& path);

// Refuses a header (of any part) that is deep, has no usable size, or
// declares more pixels, or a larger strip or tile, than pixelLimit.
void CheckHeader(const std::string& path, const OIIO::ImageSpec& header, std::int64_t pixelLimit);

// Creates the writer PATH's name asks for, lets `write` open it under the
// name it is given and write everything, then puts the file in place; see
// WriteRgbaImage for the guarantees. `onePart` is false when `write` opens
// the file with several parts.
void WriteImageSafely(const std::string& path,
                      const std::function<void(OIIO::ImageOutput& output, const std::string& openAs)>& write,
                      bool onePart = true);

}  // namespace lenstrove::cli
