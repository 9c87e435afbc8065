#ifndef LENSTROVE_SESSION_ERROR_H
#define LENSTROVE_SESSION_ERROR_H

// The exception the session throws for everything a caller can meet: a
// plug-in that cannot be found, loaded or used, a parameter value that
// does not fit, a picture that cannot be handed over, and a plug-in that
// answered an action with an error. The message is one line a person can
// act on; for a plug-in's own failure it ends with what the plug-in
// posted, which PluginMessage() holds alone.

#include <stdexcept>
#include <string>
#include <utility>

namespace lenstrove::session {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& what, std::string plugin_message = "")
      : std::runtime_error(what), plugin_message_(std::move(plugin_message)) {}

  // The error messages the plug-in posted, or what it threw; empty when
  // the fault is not the plug-in's or it said nothing.
  const std::string& PluginMessage() const { return plugin_message_; }

 private:
  std::string plugin_message_;
};

}  // namespace lenstrove::session

#endif
