#include "suites.h"

#include "handles.h"
#include "host.h"

// Where fetchSuite finds the tables: the property, image effect and
// parameter suites (property_suite.cpp, image_effect_suite.cpp,
// parameter_suite.cpp) and the service suites (services.cpp).

namespace lenstrove::host {

const void* FindSuite(std::string_view name, int version) {
  if (const void* service = FindServiceSuite(name, version)) return service;
  if (version != 1) return nullptr;
  if (name == kOfxPropertySuite) return &PropertySuite();
  if (name == kOfxImageEffectSuite) return &ImageEffectSuite();
  if (name == kOfxParameterSuite) return &ParameterSuite();
  return nullptr;
}

// The handle is only used to find the host; whatever it is, the plug-in
// gets the same suites.
const void* FetchSuiteEntry(OfxPropertySetHandle handle, const char* name, int version) {
  HandleRegistry& registry = HandleRegistry::Instance();
  Host* host = registry.Owner(handle, HandleKind::kPropertySet);
  if (!host) host = registry.Fallback();
  return host ? host->FetchSuite(name, version) : nullptr;
}

}  // namespace lenstrove::host
