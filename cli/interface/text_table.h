#pragma once

// Plain text tables with aligned columns, for `list` and `describe`.

#include <string>
#include <vector>

namespace lenstrove::cli {

class TextTable {
 public:
  explicit TextTable(std::vector<std::string> headings);
  void addRow(std::vector<std::string> cells);  // missing cells print empty
  // Columns separated by two spaces, headings underlined with dashes, no
  // trailing blanks.
  std::string render() const;

 private:
  std::vector<std::vector<std::string>> rows_;
};

}  // namespace lenstrove::cli
