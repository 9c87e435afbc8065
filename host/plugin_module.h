#ifndef LENSTROVE_HOST_PLUGIN_MODULE_H
#define LENSTROVE_HOST_PLUGIN_MODULE_H

// Finding and loading plug-in binaries. A plug-in ships as a bundle folder,
// NAME.ofx.bundle/Contents/PLATFORM/NAME.ofx (PLATFORM Linux-x86-64,
// Linux-aarch64 or Win64), found in the folders listed in OFX_PLUGIN_PATH
// (separated by ';' on Windows, ':' elsewhere) and in the system's folder:
// /usr/OFX/Plugins, or C:\Program Files\Common Files\OFX\Plugins on Windows.

#include <string>
#include <vector>

#include "ofx/ofxCore.h"

namespace lenstrove::host {

// The binary inside a bundle folder; any other path is taken as the binary.
std::string ResolveModulePath(const std::string& path);

// OFX_PLUGIN_PATH's folders, in order, then the system's folder.
std::vector<std::string> DefaultPluginFolders();

// The *.ofx.bundle folders directly inside each folder or one level below,
// sorted within each folder, each bundle once. Folders that are missing or
// unreadable are skipped.
std::vector<std::string> FindBundles(const std::vector<std::string>& folders = DefaultPluginFolders());

// One loaded plug-in binary; unloaded when destroyed.
class PluginModule {
 public:
  // Loads a bundle or binary; throws HostError naming the path and the
  // loader's message when the file cannot be loaded or lacks an entry point.
  explicit PluginModule(const std::string& path);
  ~PluginModule();
  PluginModule(const PluginModule&) = delete;
  PluginModule& operator=(const PluginModule&) = delete;

  const std::string& Path() const { return path_; }
  // OfxGetNumberOfPlugins and OfxGetPlugin, called as they are; an
  // exception either lets out becomes a HostError.
  int Count() const;
  OfxPlugin* Get(int index) const;

 private:
  void* Symbol(const char* name) const;

  std::string path_;
  void* library_;
  int (*get_count_)();
  OfxPlugin* (*get_plugin_)(int);
};

}  // namespace lenstrove::host

#endif
