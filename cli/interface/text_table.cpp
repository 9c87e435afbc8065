#include "interface/text_table.h"

#include <algorithm>

namespace lenstrove::cli {
namespace {

// Display width: UTF-8 continuation bytes take no column.
std::size_t Columns(const std::string& text) {
  return static_cast<std::size_t>(
      std::count_if(text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string RenderRow(const std::vector<std::string>& cells, const std::vector<std::size_t>& widths) {
  std::string line;
  for (std::size_t c = 0; c < widths.size(); ++c) {
    const std::string cell = c < cells.size() ? cells[c] : "";
    line += cell;
    if (c + 1 < widths.size()) line += std::string(widths[c] - Columns(cell) + 2, ' ');
  }
  while (!line.empty() && line.back() == ' ') line.pop_back();
  return line + "\n";
}

}  // namespace

TextTable::TextTable(std::vector<std::string> headings) { rows_.push_back(std::move(headings)); }

void TextTable::addRow(std::vector<std::string> cells) { rows_.push_back(std::move(cells)); }

std::string TextTable::render() const {
  std::vector<std::size_t> widths(rows_.front().size(), 0);
  for (const auto& row : rows_)
    for (std::size_t c = 0; c < widths.size() && c < row.size(); ++c) widths[c] = std::max(widths[c], Columns(row[c]));
  std::vector<std::string> rule;
  for (std::size_t width : widths) rule.push_back(std::string(width, '-'));
  std::string text = RenderRow(rows_.front(), widths) + RenderRow(rule, widths);
  for (std::size_t r = 1; r < rows_.size(); ++r) text += RenderRow(rows_[r], widths);
  return text;
}

}  // namespace lenstrove::cli
