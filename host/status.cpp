#include "status.h"

#include <array>
#include <string_view>

#include "ofx/ofxImageEffect.h"

namespace lenstrove::host {

namespace {

// Indexed by status value.
constexpr std::array<const char*, 15> kStatusNames = {
    "kOfxStatOK",
    "kOfxStatFailed",
    "kOfxStatErrFatal",
    "kOfxStatErrUnknown",
    "kOfxStatErrMissingHostFeature",
    "kOfxStatErrUnsupported",
    "kOfxStatErrExists",
    "kOfxStatErrFormat",
    "kOfxStatErrMemory",
    "kOfxStatErrBadHandle",
    "kOfxStatErrBadIndex",
    "kOfxStatErrValue",
    "kOfxStatReplyYes",
    "kOfxStatReplyNo",
    "kOfxStatReplyDefault",
};

bool MustBeCarriedOut(std::string_view action) {
  return action == kOfxActionDescribe || action == kOfxImageEffectActionDescribeInContext ||
         action == kOfxImageEffectActionRender;
}

}  // namespace

const char* StatusName(OfxStatus status) {
  if (status < 0 || status >= static_cast<int>(kStatusNames.size())) return "unknown status";
  return kStatusNames[status];
}

PluginError::PluginError(std::string action, OfxStatus status, std::string message)
    : std::runtime_error(action + " failed: " + StatusName(status) + " (" + std::to_string(status) + ")" +
                         (message.empty() ? "" : ": " + message)),
      action_(std::move(action)),
      status_(status),
      message_(std::move(message)) {}

bool ActionResult::Succeeded() const {
  if (status == kOfxStatOK) return true;
  return status == kOfxStatReplyDefault && !MustBeCarriedOut(action);
}

const ActionResult& ActionResult::Check() const {
  if (!Succeeded()) throw PluginError(action, status, message);
  return *this;
}

}  // namespace lenstrove::host
