#ifndef LENSTROVE_HOST_HANDLES_H
#define LENSTROVE_HOST_HANDLES_H

// Every handle the host gives a plug-in is the address of a host object.
// Plug-ins (and fuzzers posing as plug-ins) may hand back anything, so each
// suite call first looks the pointer up here and only then touches the
// object. The registry is process-wide because the suite functions are plain
// C functions: the handle is all they get, and the registry is how they find
// the Host that owns it. Several Hosts may live side by side.

#include <shared_mutex>
#include <unordered_map>
#include <vector>

namespace lenstrove::host {

class Host;

enum class HandleKind { kPropertySet, kImage, kEffect, kClip, kParamSet, kParam, kMemory };

class HandleRegistry {
 public:
  static HandleRegistry& Instance();

  void Add(const void* address, HandleKind kind, Host& owner);
  void Remove(const void* address);
  // The owner of `handle` when it is a live object of the wanted kind, else
  // null. An image is a property set too, so it satisfies kPropertySet.
  Host* Owner(const void* handle, HandleKind kind) const;

  void AddHost(Host& host);
  void RemoveHost(Host& host);
  // Where to report a call whose handle names no live object: the host that
  // is calling into the plug-in on this thread, else the newest live host.
  Host* Fallback() const;

 private:
  struct Entry {
    HandleKind kind;
    Host* owner;
  };
  mutable std::shared_mutex mutex_;
  std::unordered_map<const void*, Entry> entries_;
  std::vector<Host*> hosts_;
};

// Keeps one object registered for as long as it lives.
class Registration {
 public:
  Registration(const void* address, HandleKind kind, Host& owner);
  ~Registration();
  Registration(const Registration&) = delete;
  Registration& operator=(const Registration&) = delete;

 private:
  const void* address_;
};

// Marks `host` as the one calling into a plug-in on this thread, so calls
// with garbage handles made during that action are logged to the right host.
class ActiveHostScope {
 public:
  explicit ActiveHostScope(Host& host);
  ~ActiveHostScope();
  ActiveHostScope(const ActiveHostScope&) = delete;
  ActiveHostScope& operator=(const ActiveHostScope&) = delete;

 private:
  Host* previous_;
};

}  // namespace lenstrove::host

#endif
