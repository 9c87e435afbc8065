#ifndef LENSTROVE_HOST_SCAN_PROTOCOL_H
#define LENSTROVE_HOST_SCAN_PROTOCOL_H

// What lenstrove-scan writes to its parent, one record per line (see
// scan_text.h for the line format):
//
//   step   NAME [INDEX [CONTEXT]]    before each step it takes
//   count  N                         OfxGetNumberOfPlugins answered N
//   plugin INDEX IDENTIFIER MAJOR MINOR
//   described INDEX LABEL CONTEXT...  the plug-in loaded and described itself
//   failed INDEX REASON              it (INDEX -1: the binary) cannot be used
//   done                             the scan ended normally
//
// Binary steps are "open" (loading the binary), "count", "get" (fetching
// plug-in INDEX) and "close"; a plug-in's are Plugin::Start's steps and
// kOfxActionUnload.

namespace lenstrove::host::scan_protocol {

inline constexpr const char* kStep = "step";
inline constexpr const char* kCount = "count";
inline constexpr const char* kPlugin = "plugin";
inline constexpr const char* kDescribed = "described";
inline constexpr const char* kFailed = "failed";
inline constexpr const char* kDone = "done";

inline constexpr const char* kOpenStep = "open";
inline constexpr const char* kCountStep = "count";
inline constexpr const char* kGetStep = "get";
inline constexpr const char* kCloseStep = "close";

// More plug-ins than any real binary holds; a count above it is cut to it.
inline constexpr int kMaxPlugins = 1000;

}  // namespace lenstrove::host::scan_protocol

#endif
