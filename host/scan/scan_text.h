#ifndef LENSTROVE_HOST_SCAN_TEXT_H
#define LENSTROVE_HOST_SCAN_TEXT_H

// The line format the scanner speaks to its parent and the cache is stored
// in: one record per line, fields separated by tabs, with backslash, tab,
// carriage return and newline inside a field written \\, \t, \r and \n, so
// any plug-in label or path survives the trip.

#include <cstdint>
#include <string>
#include <vector>

namespace lenstrove::host {

using Fields = std::vector<std::string>;

// The fields as one line, newline included.
std::string JoinFields(const Fields& fields);
// One line (without its newline) back into fields; false for an escape
// this format does not write.
bool SplitFields(const std::string& line, Fields* fields);

// A whole decimal number in [low, high]; false for anything else.
bool ParseInteger(const std::string& text, long long low, long long high, long long* value);

// FNV-1a: enough to notice a cache file that was cut short or edited.
std::uint64_t TextHash(const std::string& text);

}  // namespace lenstrove::host

#endif
