#ifndef LENSTROVE_SESSION_PICTURE_H
#define LENSTROVE_SESSION_PICTURE_H

// A picture held in memory by the caller, as the session reads or writes
// it: a view of the caller's pixels, never a copy. Samples are byte (0 to
// 255), 16-bit short (0 to 65535), half or float; one channel is a matte
// (OpenFX's Alpha), three RGB, four RGBA; channels of a pixel lie side by
// side, and pixels of a row too. Rows lie `rowStride` bytes apart, top row
// or bottom row first.
//
// Where the pixels lie is counted as image files count, from the top-left,
// y downward: the data window (x, y, width, height) within the display
// window, the frame the picture is composed in. A picture without windows
// has both at (0, 0) and of its own size.

#include <cstddef>
#include <cstdint>

namespace lenstrove::session {

enum class SampleType { Byte, Short, Half, Float };
enum class RowOrder { TopFirst, BottomFirst };

// How colour stands to alpha: straight (PNG, TIFF with unassociated alpha,
// movies), already multiplied by it (OpenEXR, TIFF with associated alpha),
// or no alpha to speak of. RGB pictures are opaque whatever they say.
enum class AlphaState { Straight, Premultiplied, Opaque };

struct PixelRect {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelRect& other) const {
    return x == other.x && y == other.y && width == other.width && height == other.height;
  }
  bool operator!=(const PixelRect& other) const { return !(*this == other); }
};

struct Picture {
  void* data = nullptr;  // the first pixel of the first row in rowOrder
  int width = 0, height = 0;
  int channels = 4;  // 1, 3 or 4
  SampleType sample = SampleType::Float;
  // Bytes from the start of one row to the next in rowOrder; 0 for rows
  // packed tightly. A negative stride steps back through memory (a numpy
  // array flipped upside down).
  std::ptrdiff_t rowStride = 0;
  RowOrder rowOrder = RowOrder::TopFirst;
  int x = 0, y = 0;   // where the top-left pixel lies in the frame
  PixelRect display;  // the frame; empty for the pixels' own extent
  AlphaState alpha = AlphaState::Straight;

  std::size_t PixelBytes() const;
  std::ptrdiff_t Stride() const;  // rowStride, or a tight row's bytes
  PixelRect DataWindow() const { return {x, y, width, height}; }
  PixelRect DisplayWindow() const { return display.width > 0 && display.height > 0 ? display : DataWindow(); }
  // The first byte of row `row`, counted from the top.
  unsigned char* Row(int row) const;
};

std::size_t SampleBytes(SampleType sample);

}  // namespace lenstrove::session

#endif
