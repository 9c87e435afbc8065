#ifndef LENSTROVE_SESSION_SESSION_INTERNAL_H
#define LENSTROVE_SESSION_SESSION_INTERNAL_H

// Internal to the session: what it reads from a plug-in's descriptors and
// property sets, how it words the plug-in's failures, and where a plug-in
// asked for is.

#include <optional>
#include <string>
#include <vector>

#include "plugin.h"
#include "property_set.h"
#include "session/description.h"
#include "session/error.h"
#include "session/search.h"
#include "status.h"

namespace lenstrove::session {

std::string StringProperty(const host::PropertySet& properties, const char* name, int index = 0);
std::vector<std::string> StringValues(const host::PropertySet& properties, const char* name);
// Plug-ins may store numbers as doubles or ints; both read as a double.
std::optional<double> NumberProperty(const host::PropertySet& properties, const char* name);
// "OfxBitDepthFloat" -> "float", "OfxImageContextFilter" -> "filter".
std::string ShortName(const std::string& name, const std::string& prefix);

// What the plug-in describes, its clips and parameters as the render
// context declares them (without one, as the first context it declares);
// `file` is its binary.
PluginDescription DescribePlugin(host::Plugin& plugin, const std::string& file, const std::string& context);

// The context a filter render uses: the filter context, or else the
// general one when it has a Source and an Output clip and every other clip
// may stay unconnected, as most plug-in collections declare. Empty when
// neither fits, with `why` saying so (naming the caller as `self`).
std::string RenderContext(host::Plugin& plugin, const std::string& self, std::string& why);

// "plug-in 'ID' answered kOfxStatFailed to OfxImageEffectActionRender: what
// it posted", as an Error carrying what it posted.
Error PluginFailure(const std::string& identifier, const host::PluginError& error);

// The binary and index of the plug-in `which` names: an identifier found
// in the options' folders, or a .ofx file or bundle. Throws Error for one
// that is unknown or failed its scan.
struct Located {
  std::string binary;
  int index = 0;
};
Located Locate(const std::string& which, const SearchOptions& options);

}  // namespace lenstrove::session

#endif
