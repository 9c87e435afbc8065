#ifndef LENSTROVE_PYTHON_SEARCH_PLACES_H
#define LENSTROVE_PYTHON_SEARCH_PLACES_H

// Where the module looks for plug-ins and for the scanner that learns
// about them, as the lenstrove command does: a module loaded from the build
// tree finds the build tree's bundle and scanner, an installed one the
// installed ones.

#include <string>
#include <vector>

#include "session/search.h"

namespace lenstrove::python {

// `searchPath` first, then OFX_PLUGIN_PATH's folders, the build tree's
// bundle folder for a module loaded from the build tree, and the system's
// OpenFX folder; messages name the module.
session::SearchOptions SearchOptionsFor(const std::vector<std::string>& searchPath);

}  // namespace lenstrove::python

#endif
