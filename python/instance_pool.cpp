#include "instance_pool.h"

#include <cstring>

namespace lenstrove::python {
namespace {

void AddText(std::string& key, const std::string& text) {
  key += std::to_string(text.size()) + ":" + text;
}

void AddValue(std::string& key, const session::ResolvedValue& value) {
  key += "#" + std::to_string(value.numbers.size());
  for (double number : value.numbers) {
    char bytes[sizeof number];
    std::memcpy(bytes, &number, sizeof number);
    key.append(bytes, sizeof bytes);
  }
  AddText(key, value.text);
}

}  // namespace

std::string SettingsKey(const std::vector<session::ResolvedSetting>& settings) {
  std::string key;
  for (const session::ResolvedSetting& setting : settings) {
    AddText(key, setting.name);
    if (setting.keys.empty()) AddValue(key, setting.value);
    key += "@" + std::to_string(setting.keys.size());
    for (const session::ResolvedKey& k : setting.keys) {
      AddValue(key, {{k.time}, ""});
      AddValue(key, k.value);
    }
  }
  return key;
}

InstancePool::Lease InstancePool::Take(const std::vector<session::ResolvedSetting>& settings) {
  std::string key = SettingsKey(settings);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto idle = idle_.begin(); idle != idle_.end(); ++idle) {
      if (idle->key != key) continue;
      session::Instance instance = std::move(idle->instance);
      idle_.erase(idle);
      return Lease(*this, std::move(key), std::move(instance));
    }
  }
  session::Instance instance = plugin_.NewInstance();
  instance.Apply(settings);
  return Lease(*this, std::move(key), std::move(instance));
}

void InstancePool::Lease::Return() {
  if (instance_) pool_.Give(std::move(key_), std::move(*instance_));
  instance_.reset();
}

void InstancePool::Give(std::string key, session::Instance instance) {
  std::deque<Idle> dropped;  // destroyed after the lock is let go
  std::lock_guard<std::mutex> lock(mutex_);
  idle_.push_front({std::move(key), std::move(instance)});
  while (idle_.size() > keep_) {
    dropped.push_back(std::move(idle_.back()));
    idle_.pop_back();
  }
}

}  // namespace lenstrove::python
