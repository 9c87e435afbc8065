#pragma once

#include "ofx/ofxImageEffect.h"
#include "ofx/ofxParam.h"
#include "ofx/ofxProperty.h"

namespace lenstrove {

// The host's function tables, fetched once by setHost and read by every
// action afterwards. Null until a host supplies them.
struct HostSuites {
  const OfxPropertySuiteV1* property = nullptr;
  const OfxImageEffectSuiteV1* imageEffect = nullptr;
  const OfxParameterSuiteV1* parameter = nullptr;
};

extern HostSuites gHostSuites;

// Fetches the three suites through the host record. A host without a
// fetchSuite function leaves the suites as they were.
void BindHostSuites(const OfxHost* host);

}  // namespace lenstrove
