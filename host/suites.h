#ifndef LENSTROVE_HOST_SUITES_H
#define LENSTROVE_HOST_SUITES_H

// The C function tables the host hands out through fetchSuite.

#include <string_view>

#include "ofx/ofxCore.h"

namespace lenstrove::host {

// The table of a suite this host implements, or null.
const void* FindSuite(std::string_view name, int version);
// The memory, multithread, message, progress and timeline suites.
const void* FindServiceSuite(std::string_view name, int version);

// The fetchSuite member of every Host's OfxHost record.
const void* FetchSuiteEntry(OfxPropertySetHandle host, const char* name, int version);

}  // namespace lenstrove::host

#endif
