#ifndef LENSTROVE_HOST_SUITES_H
#define LENSTROVE_HOST_SUITES_H

// The C function tables the host hands out through fetchSuite.

#include <string_view>

#include "ofx/ofxCore.h"
#include "ofx/ofxImageEffect.h"
#include "ofx/ofxParam.h"
#include "ofx/ofxProperty.h"

namespace lenstrove::host {

// The table of a suite this host implements, or null.
const void* FindSuite(std::string_view name, int version);
// The property, image effect and parameter suites' tables.
const OfxPropertySuiteV1& PropertySuite();
const OfxImageEffectSuiteV1& ImageEffectSuite();
const OfxParameterSuiteV1& ParameterSuite();
// The memory, multithread, message, progress and timeline suites.
const void* FindServiceSuite(std::string_view name, int version);

// The fetchSuite member of every Host's OfxHost record.
const void* FetchSuiteEntry(OfxPropertySetHandle host, const char* name, int version);

}  // namespace lenstrove::host

#endif
