#include "scan_text.h"

#include <cerrno>
#include <cstdlib>

namespace lenstrove::host {

std::string JoinFields(const Fields& fields) {
  std::string line;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) line += '\t';
    for (char c : fields[i]) {
      switch (c) {
        case '\\': line += "\\\\"; break;
        case '\t': line += "\\t"; break;
        case '\n': line += "\\n"; break;
        case '\r': line += "\\r"; break;
        default: line += c;
      }
    }
  }
  return line + '\n';
}

bool SplitFields(const std::string& line, Fields* fields) {
  fields->assign(1, std::string());
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\t') {
      fields->emplace_back();
      continue;
    }
    if (c != '\\') {
      fields->back() += c;
      continue;
    }
    if (++i == line.size()) return false;
    switch (line[i]) {
      case '\\': fields->back() += '\\'; break;
      case 't': fields->back() += '\t'; break;
      case 'n': fields->back() += '\n'; break;
      case 'r': fields->back() += '\r'; break;
      default: return false;
    }
  }
  return true;
}

bool ParseInteger(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty() || text.size() > 20 || !(text[0] == '-' || (text[0] >= '0' && text[0] <= '9'))) return false;
  char* end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size() || parsed < low || parsed > high) return false;
  *value = parsed;
  return true;
}

std::uint64_t TextHash(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

}  // namespace lenstrove::host
