#include "demo/contact_sheet.h"

#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "image/temp_file.h"

namespace lenstrove::cli {
namespace {

// DejaVu is the font Debian installs with OpenImageIO's tools; it is found
// by name through OpenImageIO's font search.
constexpr const char* kFontName = "DejaVuSans";
constexpr float kBackground[] = {0.13f, 0.13f, 0.14f};
constexpr float kTextColour[] = {0.92f, 0.92f, 0.92f};

OIIO::ImageBuf ReadAsRgb(const std::string& path) {
  OIIO::ImageBuf picture(path);
  if (!picture.read(0, 0, true, OIIO::TypeDesc::FLOAT))
    throw std::runtime_error("cannot read picture '" + path + "' for the contact sheet: " + picture.geterror());
  const int channels = picture.nchannels();
  if (channels >= 3) return OIIO::ImageBufAlgo::channels(picture, 3, {});
  const int gray[] = {0, 0, 0};
  return OIIO::ImageBufAlgo::channels(picture, 3, gray);
}

// The picture scaled to fit the cell, keeping its proportions.
OIIO::ImageBuf FitInCell(const OIIO::ImageBuf& picture, const SheetLayout& layout) {
  const OIIO::ROI size = picture.roi();
  const double scale = std::min(static_cast<double>(layout.cellWidth) / size.width(),
                                static_cast<double>(layout.cellHeight) / size.height());
  const int width = std::max(1, static_cast<int>(size.width() * scale + 0.5));
  const int height = std::max(1, static_cast<int>(size.height() * scale + 0.5));
  return OIIO::ImageBufAlgo::resize(picture, "", 0.0f, OIIO::ROI(0, width, 0, height, 0, 1, 0, 3));
}

struct Cell {
  int x;
  int y;
};

Cell CellOrigin(std::size_t index, const SheetLayout& layout) {
  const int column = static_cast<int>(index) % layout.columns;
  const int row = static_cast<int>(index) / layout.columns;
  return {layout.margin + column * (layout.cellWidth + layout.margin),
          layout.margin + row * (layout.cellHeight + layout.labelHeight + layout.margin)};
}

OIIO::ImageBuf BlankSheet(std::size_t count, const SheetLayout& layout) {
  const int columns = std::min<int>(layout.columns, static_cast<int>(count));
  const int rows = static_cast<int>((count + layout.columns - 1) / layout.columns);
  const int width = layout.margin + columns * (layout.cellWidth + layout.margin);
  const int height = layout.margin + rows * (layout.cellHeight + layout.labelHeight + layout.margin);
  OIIO::ImageBuf sheet(OIIO::ImageSpec(width, height, 3, OIIO::TypeDesc::FLOAT));
  OIIO::ImageBufAlgo::fill(sheet, kBackground);
  return sheet;
}

// Pictures are centred across their cell and sit on its bottom edge, right
// above their label, whatever their proportions.
bool PlaceEntry(OIIO::ImageBuf& sheet, const SheetEntry& entry, Cell cell, const SheetLayout& layout) {
  const OIIO::ImageBuf thumbnail = FitInCell(ReadAsRgb(entry.path), layout);
  const OIIO::ROI size = thumbnail.roi();
  const int x = cell.x + (layout.cellWidth - size.width()) / 2;
  const int y = cell.y + layout.cellHeight - size.height();
  OIIO::ImageBufAlgo::paste(sheet, x, y, 0, 0, thumbnail);
  const int baseline = cell.y + layout.cellHeight + layout.labelHeight - 8;
  return OIIO::ImageBufAlgo::render_text(sheet, cell.x + layout.cellWidth / 2, baseline, entry.label,
                                         layout.fontSize, kFontName, kTextColour, OIIO::ImageBufAlgo::TextAlignX::Center);
}

void WriteSheet(const std::string& path, const OIIO::ImageBuf& sheet) {
  std::string format = std::filesystem::path(path).extension().string();
  if (!format.empty()) format.erase(0, 1);
  TempFile temp(path);
  if (!sheet.write(temp.path(), OIIO::TypeDesc::UINT8, format))
    throw std::runtime_error("cannot write contact sheet '" + path + "': " + sheet.geterror());
  temp.commit();
}

}  // namespace

bool WriteContactSheet(const std::string& path, const std::vector<SheetEntry>& entries, const SheetLayout& layout) {
  if (entries.empty()) throw std::runtime_error("a contact sheet needs at least one picture");
  OIIO::ImageBuf sheet = BlankSheet(entries.size(), layout);
  bool labelled = true;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (!entries[i].path.empty()) labelled = PlaceEntry(sheet, entries[i], CellOrigin(i, layout), layout) && labelled;
  WriteSheet(path, sheet);
  return labelled;
}

}  // namespace lenstrove::cli
