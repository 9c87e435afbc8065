#include "interface/text.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "session/values.h"

namespace lenstrove::cli {

std::optional<double> ParseDouble(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text.c_str(), &end);
  if (end != text.c_str() + text.size() || errno == ERANGE || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<long> ParseInteger(const std::string& text) {
  if (text.empty() || std::isspace(static_cast<unsigned char>(text.front()))) return std::nullopt;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (end != text.c_str() + text.size() || errno == ERANGE) return std::nullopt;
  return value;
}

std::optional<bool> ParseSwitch(const std::string& text) {
  std::string lower = text;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "on" || lower == "true" || lower == "yes" || lower == "1") return true;
  if (lower == "off" || lower == "false" || lower == "no" || lower == "0") return false;
  return std::nullopt;
}

std::string FormatNumber(double value) { return session::NumberText(value); }

}  // namespace lenstrove::cli
