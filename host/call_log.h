#ifndef LENSTROVE_HOST_CALL_LOG_H
#define LENSTROVE_HOST_CALL_LOG_H

// The calls a plug-in made into the host, in order, so tests can check what
// a plug-in asked for and what it got back. Several instances may render on
// different threads at once, so recording is serialised; when logging is off
// a call costs one atomic load.

#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "ofx/ofxCore.h"

namespace lenstrove::host {

struct CallRecord {
  std::string function;  // the suite member, e.g. "propSetString", or "fetchSuite"
  std::string args;      // its key arguments as text, e.g. "effect, OfxPropLabel, 0, \"Blur\""
  OfxStatus status = kOfxStatOK;

  // "propSetString(effect, OfxPropLabel, 0, \"Blur\") -> kOfxStatOK"
  std::string ToString() const;
  bool operator==(const CallRecord& other) const {
    return function == other.function && args == other.args && status == other.status;
  }
};

class CallLog {
 public:
  void SetEnabled(bool enabled) { enabled_.store(enabled, std::memory_order_relaxed); }
  bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }

  void Add(CallRecord record);
  void Clear();
  std::vector<CallRecord> Records() const;
  size_t Count(std::string_view function) const;
  // One record per line.
  std::string ToString() const;

 private:
  std::atomic<bool> enabled_{true};
  mutable std::mutex mutex_;
  std::vector<CallRecord> records_;
};

}  // namespace lenstrove::host

#endif
