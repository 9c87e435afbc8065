#ifndef LENSTROVE_PYTHON_INSTANCE_POOL_H
#define LENSTROVE_PYTHON_INSTANCE_POOL_H

// Instances of one plug-in kept between renders. Making an instance and
// telling it every setting costs the plug-in's create-instance and
// instance-changed actions, which a script rendering frame after frame with
// the same settings should not pay each time; and two threads must never
// render through the same instance. So each render leases an instance whose
// settings are exactly the ones asked for, or a new one, and hands it back
// when the render succeeded.

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "session/session.h"

namespace lenstrove::python {

// The settings as a text that is equal only for equal settings: names,
// every number to the bit and text with its length.
std::string SettingsKey(const std::vector<session::ResolvedSetting>& settings);

class InstancePool {
 public:
  InstancePool(session::Plugin plugin, std::size_t keep) : plugin_(std::move(plugin)), keep_(keep) {}

  class Lease {
   public:
    session::Instance& operator*() { return *instance_; }
    session::Instance* operator->() { return &*instance_; }
    // Back into the pool, for the next render with the same settings. A
    // lease dropped without it (a failed render) destroys its instance.
    void Return();

   private:
    friend class InstancePool;
    Lease(InstancePool& pool, std::string key, session::Instance instance)
        : pool_(pool), key_(std::move(key)), instance_(std::move(instance)) {}
    InstancePool& pool_;
    std::string key_;
    std::optional<session::Instance> instance_;
  };

  // Safe to call from several threads at once.
  Lease Take(const std::vector<session::ResolvedSetting>& settings);
  const session::Plugin& Plugin() const { return plugin_; }

 private:
  struct Idle {
    std::string key;
    session::Instance instance;
  };
  void Give(std::string key, session::Instance instance);

  session::Plugin plugin_;
  std::size_t keep_;
  std::mutex mutex_;
  std::deque<Idle> idle_;  // most recently returned first
};

}  // namespace lenstrove::python

#endif
