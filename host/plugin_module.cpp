#include "plugin_module.h"

#include "windows_headers.h"
#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "status.h"

namespace lenstrove::host {

namespace fs = std::filesystem;

namespace {

constexpr const char* kBundleSuffix = ".ofx.bundle";

// The loader, and where each platform's binary sits in a bundle and where
// hosts look for bundles, as the standard names them.
#if defined(_WIN32)
constexpr const char* kBinaryFolder = "Contents/Win64";
constexpr char kPathSeparator = ';';
constexpr const char* kSystemPluginFolder = "C:\\Program Files\\Common Files\\OFX\\Plugins";

void* OpenLibrary(const std::string& path) { return LoadLibraryW(fs::path(path).wstring().c_str()); }
void* FindSymbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

std::string LoaderMessage() {
  const DWORD code = GetLastError();
  char text[512] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
    message.pop_back();
  return message.empty() ? "Windows error " + std::to_string(code) : message;
}
#else
#if defined(__aarch64__)
constexpr const char* kBinaryFolder = "Contents/Linux-aarch64";
#else
constexpr const char* kBinaryFolder = "Contents/Linux-x86-64";
#endif
constexpr char kPathSeparator = ':';
constexpr const char* kSystemPluginFolder = "/usr/OFX/Plugins";

void* OpenLibrary(const std::string& path) {
  dlerror();
  return dlopen(path.c_str(), RTLD_LOCAL | RTLD_NOW);
}
void* FindSymbol(void* library, const char* name) {
  dlerror();
  return dlsym(library, name);
}
void CloseLibrary(void* library) { dlclose(library); }

std::string LoaderMessage() {
  const char* message = dlerror();
  return message ? message : "unknown loader error";
}
#endif

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
    for (std::string folder; std::getline(entries, folder, kPathSeparator);) {
      if (!folder.empty()) folders.push_back(folder);
    }
  }
  folders.push_back(kSystemPluginFolder);
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
  // The loaders search their library paths for a bare name; a plug-in path
  // always means a file.
  path_ = fs::absolute(ResolveModulePath(path)).string();
  library_ = OpenLibrary(path_);
  if (!library_) throw HostError("cannot load plug-in " + path_ + ": " + LoaderMessage());
  try {
    get_count_ = reinterpret_cast<int (*)()>(Symbol("OfxGetNumberOfPlugins"));
    get_plugin_ = reinterpret_cast<OfxPlugin* (*)(int)>(Symbol("OfxGetPlugin"));
  } catch (...) {
    CloseLibrary(library_);
    throw;
  }
}

PluginModule::~PluginModule() { CloseLibrary(library_); }

namespace {

template <class Call>
auto Guarded(const std::string& path, const char* name, Call call) {
  try {
    return call();
  } catch (const std::exception& error) {
    throw HostError("plug-in " + path + ": " + name + " threw an exception: " + error.what());
  } catch (...) {
    throw HostError("plug-in " + path + ": " + name + " threw an exception");
  }
}

}  // namespace

int PluginModule::Count() const {
  return Guarded(path_, "OfxGetNumberOfPlugins", [&] { return get_count_(); });
}

OfxPlugin* PluginModule::Get(int index) const {
  return Guarded(path_, "OfxGetPlugin", [&] { return get_plugin_(index); });
}

void* PluginModule::Symbol(const char* name) const {
  void* symbol = FindSymbol(library_, name);
  if (!symbol) throw HostError("plug-in " + path_ + " has no " + name + ": " + LoaderMessage());
  return symbol;
}

}  // namespace lenstrove::host
