// Opening a plug-in into this process, and making its instances.

#include <filesystem>
#include <map>
#include <system_error>
#include <utility>

#include "plugin_module.h"
#include "session/instance_impl.h"
#include "session/session_internal.h"

namespace lenstrove::session {
namespace {

// Plug-ins loaded into this process, by binary and index: a plug-in opened
// twice is loaded once, since a second load and unload of the same code
// would pull its descriptions from under the first.
std::mutex& LoadedMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<std::pair<std::string, int>, std::weak_ptr<Plugin::Loaded>>& LoadedPlugins() {
  static std::map<std::pair<std::string, int>, std::weak_ptr<Plugin::Loaded>> loaded;
  return loaded;
}

std::shared_ptr<Plugin::Loaded> Load(const Located& located, const std::string& asked) {
  std::error_code error;
  const std::string binary = host::ResolveModulePath(located.binary);
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(binary, error);
  const std::pair<std::string, int> key{error ? binary : canonical.string(), located.index};
  std::lock_guard<std::mutex> lock(LoadedMutex());
  if (std::shared_ptr<Plugin::Loaded> shared = LoadedPlugins()[key].lock()) return shared;
  try {
    auto loaded = std::make_shared<Plugin::Loaded>(located.binary, located.index);
    LoadedPlugins()[key] = loaded;
    return loaded;
  } catch (const host::PluginError& failure) {
    throw Error("plug-in '" + asked + "' failed to start: it answered " + host::StatusName(failure.status()) +
                    " to " + failure.action(),
                failure.message());
  } catch (const host::HostError& failure) {
    throw Error("cannot load plug-in '" + asked + "': " + failure.what());
  }
}

}  // namespace

Plugin::Loaded::Loaded(const std::string& binary, int index) {
  host.Log().SetEnabled(false);  // a long render would otherwise keep every call
  plugin = host.Open(binary, index);
  std::string unused;
  context = RenderContext(*plugin, "", unused);
  description = DescribePlugin(*plugin, host::ResolveModulePath(binary), context);
}

Plugin::Loaded::~Loaded() {
  try {
    plugin->Shutdown();
  } catch (const std::exception&) {
    // Unloading is the last thing done with the plug-in; there is nothing
    // left to recover.
  }
  plugin.reset();  // plug-ins go before their host
}

Plugin::Plugin(const std::string& which, const SearchOptions& options)
    : loaded_(Load(Locate(which, options), which)), self_(options.self) {}

Plugin::~Plugin() = default;
Plugin::Plugin(const Plugin&) = default;
Plugin& Plugin::operator=(const Plugin&) = default;

const PluginDescription& Plugin::Description() const { return loaded_->description; }

Instance Plugin::NewInstance() const {
  if (loaded_->context.empty()) {
    std::string why;
    RenderContext(*loaded_->plugin, self_, why);
    throw Error(why);
  }
  std::lock_guard<std::mutex> lock(loaded_->mutex);
  try {
    host::Effect& effect = loaded_->plugin->Instantiate(loaded_->context);
    return Instance(std::make_unique<Instance::Impl>(loaded_, effect, self_));
  } catch (const host::PluginError& error) {
    throw PluginFailure(loaded_->plugin->Identifier(), error);
  }
}

}  // namespace lenstrove::session
