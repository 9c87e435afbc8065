#pragma once

// A contact sheet: pictures side by side in a grid, each scaled into a cell
// of the same size with its label written underneath.

#include <string>
#include <vector>

namespace lenstrove::cli {

struct SheetEntry {
  std::string path;   // a picture file; empty leaves the cell blank
  std::string label;  // written under it
};

struct SheetLayout {
  int columns = 4;
  int cellWidth = 240;
  int cellHeight = 240;  // room for the picture; the label goes below
  int labelHeight = 26;
  int margin = 12;
  int fontSize = 15;
};

// Writes the sheet to `path` (temporary name, then rename). Returns false,
// after writing the sheet unlabelled, when text cannot be drawn (an
// OpenImageIO built without FreeType); throws std::runtime_error when a
// picture cannot be read or the sheet cannot be written.
bool WriteContactSheet(const std::string& path, const std::vector<SheetEntry>& entries, const SheetLayout& layout);

}  // namespace lenstrove::cli
