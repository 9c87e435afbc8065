#include "entry/host_suites.h"

namespace lenstrove {

HostSuites gHostSuites;

void BindHostSuites(const OfxHost* host) {
  if (host == nullptr || host->fetchSuite == nullptr) return;
  gHostSuites.property =
      static_cast<const OfxPropertySuiteV1*>(host->fetchSuite(host->host, kOfxPropertySuite, 1));
  gHostSuites.imageEffect =
      static_cast<const OfxImageEffectSuiteV1*>(host->fetchSuite(host->host, kOfxImageEffectSuite, 1));
  gHostSuites.parameter =
      static_cast<const OfxParameterSuiteV1*>(host->fetchSuite(host->host, kOfxParameterSuite, 1));
}

}  // namespace lenstrove
