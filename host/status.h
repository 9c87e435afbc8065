#ifndef LENSTROVE_HOST_STATUS_H
#define LENSTROVE_HOST_STATUS_H

// Status names, the outcome of an action and the two error types the host
// throws: HostError for problems on the host side (a missing file, a bad
// argument from the caller), PluginError when the plug-in answered an action
// with a failure.

#include <stdexcept>
#include <string>

#include "ofx/ofxCore.h"

namespace lenstrove::host {

// The kOfx name of a status ("kOfxStatFailed"), or "unknown status" for
// values outside the published range.
const char* StatusName(OfxStatus status);

class HostError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class PluginError : public std::runtime_error {
 public:
  PluginError(std::string action, OfxStatus status, std::string message = "");
  const std::string& action() const { return action_; }
  OfxStatus status() const { return status_; }
  // The error messages the plug-in posted during the action, if any.
  const std::string& message() const { return message_; }

 private:
  std::string action_;
  OfxStatus status_;
  std::string message_;
};

// What an action returned. Callers that test failure paths read `status`;
// callers that just want things to work call Check().
struct ActionResult {
  ActionResult() = default;
  ActionResult(std::string action_name, OfxStatus answered, std::string posted = "")
      : action(std::move(action_name)), status(answered), message(std::move(posted)) {}

  std::string action;
  OfxStatus status = kOfxStatOK;
  // Error messages posted during the action; a render with one has failed.
  std::string message;

  // kOfxStatOK always counts as success. kOfxStatReplyDefault means "do what
  // a host does by default", which is fine for every action except those the
  // plug-in must really carry out itself (describing and rendering).
  bool Succeeded() const;
  // Throws PluginError unless Succeeded().
  const ActionResult& Check() const;
};

}  // namespace lenstrove::host

#endif
