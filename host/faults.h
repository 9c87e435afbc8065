#ifndef LENSTROVE_HOST_FAULTS_H
#define LENSTROVE_HOST_FAULTS_H

// Ways to make the host misbehave on purpose, so every failure path of a
// plug-in can be exercised. Image faults (no image, null data, no data
// property) are set up on the images and image sources themselves; see
// Clip and Image.
//
// The plan is read by suite calls without locking: change it only while no
// plug-in code is running.

#include <functional>
#include <set>
#include <string>
#include <string_view>

namespace lenstrove::host {

struct FaultPlan {
  using Names = std::set<std::string, std::less<>>;

  // fetchSuite answers null for these suite names.
  Names missing_suites;
  // The OfxHost record handed to setHost has a null fetchSuite.
  bool null_fetch_suite = false;
  // These suite members ("propGetInt", "clipGetImage", ...) refuse every call
  // with kOfxStatErrUnknown without doing anything.
  Names rejected_functions;
  // Every suite member refuses every call; fetchSuite still hands out the
  // suites, so the plug-in gets as far as calling them.
  bool reject_everything = false;
  // Reading these properties from any set fails with kOfxStatErrUnknown and
  // writes nothing, as if the host did not know them.
  Names withheld_properties;
  // paramGetHandle fails with kOfxStatErrUnknown for these parameter names.
  Names failing_param_handles;

  bool Rejects(std::string_view function) const {
    return reject_everything || (!rejected_functions.empty() && rejected_functions.count(function));
  }
  bool Withholds(std::string_view property) const {
    return !withheld_properties.empty() && withheld_properties.count(property);
  }
};

}  // namespace lenstrove::host

#endif
