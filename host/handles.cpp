#include "handles.h"

#include <algorithm>
#include <cassert>
#include <mutex>

namespace lenstrove::host {

namespace {

thread_local Host* active_host = nullptr;

bool Satisfies(HandleKind have, HandleKind want) {
  return have == want || (have == HandleKind::kImage && want == HandleKind::kPropertySet);
}

}  // namespace

HandleRegistry& HandleRegistry::Instance() {
  static HandleRegistry registry;
  return registry;
}

void HandleRegistry::Add(const void* address, HandleKind kind, Host& owner) {
  std::unique_lock lock(mutex_);
  [[maybe_unused]] bool added = entries_.emplace(address, Entry{kind, &owner}).second;
  assert(added && "an object was registered twice");
}

void HandleRegistry::Remove(const void* address) {
  std::unique_lock lock(mutex_);
  entries_.erase(address);
}

Host* HandleRegistry::Owner(const void* handle, HandleKind kind) const {
  std::shared_lock lock(mutex_);
  auto found = entries_.find(handle);
  if (found == entries_.end() || !Satisfies(found->second.kind, kind)) return nullptr;
  return found->second.owner;
}

void HandleRegistry::AddHost(Host& host) {
  std::unique_lock lock(mutex_);
  hosts_.push_back(&host);
}

void HandleRegistry::RemoveHost(Host& host) {
  std::unique_lock lock(mutex_);
  hosts_.erase(std::remove(hosts_.begin(), hosts_.end(), &host), hosts_.end());
}

Host* HandleRegistry::Fallback() const {
  if (active_host) return active_host;
  std::shared_lock lock(mutex_);
  return hosts_.empty() ? nullptr : hosts_.back();
}

Registration::Registration(const void* address, HandleKind kind, Host& owner) : address_(address) {
  HandleRegistry::Instance().Add(address, kind, owner);
}

Registration::~Registration() { HandleRegistry::Instance().Remove(address_); }

ActiveHostScope::ActiveHostScope(Host& host) : previous_(active_host) { active_host = &host; }

ActiveHostScope::~ActiveHostScope() { active_host = previous_; }

}  // namespace lenstrove::host
