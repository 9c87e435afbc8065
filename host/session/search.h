#ifndef LENSTROVE_SESSION_SEARCH_H
#define LENSTROVE_SESSION_SEARCH_H

// Where plug-ins are looked for and how they are learnt about. A plug-in is
// code from someone else, and some crash or hang while they describe
// themselves, so none is loaded just to be listed or found: each binary is
// scanned by the lenstrove-scan program in a child process (see the host
// library's scanner), and what it found is kept in a cache file until the
// binary changes.

#include <string>
#include <vector>

#include "session/description.h"

namespace lenstrove::session {

struct SearchOptions {
  // Searched in order for *.ofx.bundle folders, each folder and one level
  // below it.
  std::vector<std::string> folders;
  // The lenstrove-scan program: the first of these that exists, looked for
  // when a scan is needed; empty for ScannerCandidates().
  std::vector<std::string> scanners;
  // A program (and its first arguments) the scanner is run through, such
  // as an emulator.
  std::vector<std::string> launcher;
  double timeLimit = 0;   // seconds per scanning step; 0 for the default
  std::string cacheFile;  // empty for no cache
  // How messages name the caller ("plug-in 'X' cannot render as a filter
  // ...; this host renders the filter context ..."), and a hint added to
  // the message for an unknown identifier (" (see 'lenstrove list')").
  std::string self = "this host";
  std::string listHint;
};

// The folders of OFX_PLUGIN_PATH, then the system's folder (/usr/OFX/Plugins,
// or Common Files\OFX\Plugins on Windows); the user's scan cache; the
// scanner where it is installed or built (ScannerCandidates()).
SearchOptions DefaultSearchOptions();

// Where the scanner is looked for: beside the running program, in
// ../lib/lenstrove from its folder, where the project installs it, and in
// the build tree it was built in.
std::vector<std::string> ScannerCandidates();
// The first candidate that exists; throws Error listing them when none does.
std::string FindScanner(const std::vector<std::string>& candidates);

// Every plug-in that scanned well in the folders, in order. Each one that
// did not is named in `problems` with its reason ("skipped PATH (ID):
// crashed while describing (signal 11)") instead of stopping the listing.
std::vector<PluginSummary> ListPlugins(const SearchOptions& options, std::vector<std::string>& problems);

// True when `which` names a file rather than an identifier: it has a
// slash, or ends in .ofx or .ofx.bundle.
bool LooksLikePath(const std::string& which);

}  // namespace lenstrove::session

#endif
