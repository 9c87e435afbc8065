#pragma once

// Strict conversions of command-line words: the whole word must be the
// number, so "0.5x" or "" never pass as something they are not.

#include <optional>
#include <string>

namespace lenstrove::cli {

std::optional<double> ParseDouble(const std::string& text);
std::optional<long> ParseInteger(const std::string& text);
// on/off, true/false, yes/no and 1/0, in any letter case.
std::optional<bool> ParseSwitch(const std::string& text);

// A double as a person would type it: 0.5, 15, 0.12 (shortest form that
// reads back the same).
std::string FormatNumber(double value);

}  // namespace lenstrove::cli
