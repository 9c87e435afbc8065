#include "call_log.h"

#include <algorithm>

#include "status.h"

namespace lenstrove::host {

std::string CallRecord::ToString() const { return function + "(" + args + ") -> " + StatusName(status); }

void CallLog::Add(CallRecord record) {
  std::lock_guard lock(mutex_);
  records_.push_back(std::move(record));
}

void CallLog::Clear() {
  std::lock_guard lock(mutex_);
  records_.clear();
}

std::vector<CallRecord> CallLog::Records() const {
  std::lock_guard lock(mutex_);
  return records_;
}

size_t CallLog::Count(std::string_view function) const {
  std::lock_guard lock(mutex_);
  return std::count_if(records_.begin(), records_.end(),
                       [&](const CallRecord& record) { return record.function == function; });
}

std::string CallLog::ToString() const {
  std::string text;
  for (const auto& record : Records()) text += record.ToString() + '\n';
  return text;
}

}  // namespace lenstrove::host
