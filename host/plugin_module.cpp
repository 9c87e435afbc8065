#include "plugin_module.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "status.h"

namespace lenstrove::host {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBundleSuffix = ".ofx.bundle";
constexpr const char* kBinaryFolder = "Contents/Linux-x86-64";

bool IsBundle(const fs::path& path) {
  std::string name = path.filename().string();
  size_t suffix = std::string(kBundleSuffix).size();
  return name.size() > suffix && name.compare(name.size() - suffix, suffix, kBundleSuffix) == 0;
}

// Bundles directly inside `folder`, and the folders to look into one level
// down, each sorted.
void ScanFolder(const fs::path& folder, std::vector<fs::path>* bundles, std::vector<fs::path>* subfolders) {
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (!it->is_directory(error)) continue;
    (IsBundle(it->path()) ? bundles : subfolders)->push_back(it->path());
  }
  std::sort(bundles->begin(), bundles->end());
  std::sort(subfolders->begin(), subfolders->end());
}

std::string LoaderMessage() {
  const char* message = dlerror();
  return message ? message : "unknown loader error";
}

}  // namespace

std::string ResolveModulePath(const std::string& path) {
  fs::path bundle = fs::path(path).lexically_normal();
  if (!bundle.has_filename()) bundle = bundle.parent_path();
  if (!IsBundle(bundle)) return path;
  std::string name = bundle.filename().string();
  name.resize(name.size() - std::string(".bundle").size());
  return (bundle / kBinaryFolder / name).string();
}

std::vector<std::string> DefaultPluginFolders() {
  std::vector<std::string> folders;
  if (const char* list = std::getenv("OFX_PLUGIN_PATH")) {
    std::istringstream entries(list);
    for (std::string folder; std::getline(entries, folder, ':');) {
      if (!folder.empty()) folders.push_back(folder);
    }
  }
  folders.push_back("/usr/OFX/Plugins");
  return folders;
}

std::vector<std::string> FindBundles(const std::vector<std::string>& folders) {
  std::vector<std::string> found;
  for (const auto& folder : folders) {
    std::vector<fs::path> bundles, subfolders;
    ScanFolder(folder, &bundles, &subfolders);
    for (const auto& subfolder : subfolders) {
      std::vector<fs::path> nested, ignored;
      ScanFolder(subfolder, &nested, &ignored);
      bundles.insert(bundles.end(), nested.begin(), nested.end());
    }
    // Overlapping folders must not list a bundle twice.
    for (const auto& bundle : bundles) {
      if (std::find(found.begin(), found.end(), bundle.string()) == found.end()) found.push_back(bundle.string());
    }
  }
  return found;
}

PluginModule::PluginModule(const std::string& path) {
  // dlopen searches the library path for a name without a slash; a plug-in
  // path always means a file.
  path_ = fs::absolute(ResolveModulePath(path)).string();
  library_ = dlopen(path_.c_str(), RTLD_LOCAL | RTLD_NOW);
  if (!library_) throw HostError("cannot load plug-in " + path_ + ": " + LoaderMessage());
  try {
    get_count_ = reinterpret_cast<int (*)()>(Symbol("OfxGetNumberOfPlugins"));
    get_plugin_ = reinterpret_cast<OfxPlugin* (*)(int)>(Symbol("OfxGetPlugin"));
  } catch (...) {
    dlclose(library_);
    throw;
  }
}

PluginModule::~PluginModule() { dlclose(library_); }

void* PluginModule::Symbol(const char* name) const {
  dlerror();
  void* symbol = dlsym(library_, name);
  if (!symbol) throw HostError("plug-in " + path_ + " has no " + name + ": " + LoaderMessage());
  return symbol;
}

}  // namespace lenstrove::host
