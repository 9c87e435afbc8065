#include "plugin.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string_view>

#include "host.h"
#include "plugin_module.h"

namespace lenstrove::host {

Plugin::Plugin(Host& host, std::shared_ptr<PluginModule> module, int index)
    : host_(host), module_(std::move(module)), record_(module_->Get(index)) {
  if (!record_) throw HostError(module_->Path() + ": OfxGetPlugin(" + std::to_string(index) + ") returned null");
  identifier_ = record_->pluginIdentifier ? record_->pluginIdentifier : "(unnamed plug-in)";
}

void Plugin::CheckApi() const {
  const char* api = record_->pluginApi;
  if (!api || std::string_view(api) != kOfxImageEffectPluginApi ||
      record_->apiVersion != kOfxImageEffectPluginApiVersion) {
    throw HostError(Identifier() + " is not an image effect of API version 1 (API \"" + (api ? api : "null") +
                    "\", version " + std::to_string(record_->apiVersion) + ")");
  }
}

namespace {

// What an exception a plug-in let out into the host says about itself.
std::string Escaped(const std::exception* error) {
  return std::string("threw an exception") + (error ? std::string(": ") + error->what() : "");
}

}  // namespace

void Plugin::SetHost() {
  if (!record_->setHost) throw HostError(Identifier() + " has no setHost");
  ActiveHostScope scope(host_);
  // Unwinding out of a C entry point is undefined, but GCC and Clang
  // plug-ins do it; the host catches what it can rather than terminate.
  try {
    record_->setHost(host_.Record());
  } catch (const std::exception& error) {
    throw HostError(Identifier() + ": setHost " + Escaped(&error));
  } catch (...) {
    throw HostError(Identifier() + ": setHost " + Escaped(nullptr));
  }
}

ActionResult Plugin::CallAction(const char* action, const void* handle, OfxPropertySetHandle in_args,
                                OfxPropertySetHandle out_args) {
  if (!record_->mainEntry) throw HostError(Identifier() + " has no mainEntry");
  ActiveHostScope scope(host_);
  const std::string name = action ? action : "(null action)";
  try {
    return {name, record_->mainEntry(action, handle, in_args, out_args)};
  } catch (const std::exception& error) {
    return {name, kOfxStatFailed, Escaped(&error)};
  } catch (...) {
    return {name, kOfxStatFailed, Escaped(nullptr)};
  }
}

// The argument sets are valid handles only while the action runs.
ActionResult Plugin::Run(const char* action, const void* handle, PropertySet* in_args, PropertySet* out_args) {
  std::optional<Registration> in_registration, out_registration;
  if (in_args) in_registration.emplace(in_args, HandleKind::kPropertySet, host_);
  if (out_args) out_registration.emplace(out_args, HandleKind::kPropertySet, host_);
  return CallAction(action, handle, in_args ? in_args->Handle() : nullptr, out_args ? out_args->Handle() : nullptr);
}

ActionResult Plugin::Load() {
  ActionResult result = Run(kOfxActionLoad, nullptr, nullptr, nullptr);
  if (result.Succeeded()) owes_unload_ = true;
  return result;
}

namespace {

// Where the plug-in was found, as the descriptor tells it: its bundle
// folder, or the binary itself when it lies outside one.
std::string FoundAt(const std::string& binary) {
  const std::filesystem::path bundle = std::filesystem::path(binary).parent_path().parent_path().parent_path();
  const std::string name = bundle.filename().string();
  const std::string suffix = ".ofx.bundle";
  const bool in_bundle = name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
  return in_bundle ? bundle.string() : binary;
}

}  // namespace

// An error message posted on the descriptor says why describing failed.
ActionResult Plugin::Describe() {
  descriptor_ = std::make_unique<Effect>(host_, std::string(), PropertySet());
  descriptor_->Properties().Set(kOfxPluginPropFilePath, 0, FoundAt(module_->Path()));
  ActionResult result = Run(kOfxActionDescribe, descriptor_->Handle(), nullptr, nullptr);
  if (result.message.empty()) result.message = descriptor_->TakeErrors();
  return result;
}

ActionResult Plugin::DescribeInContext(const std::string& context) {
  auto described = std::make_unique<Effect>(host_, context, Descriptor().Properties());
  auto& slots = context_descriptors_;
  slots.erase(std::remove_if(slots.begin(), slots.end(), [&](const auto& old) { return old->Context() == context; }),
              slots.end());
  slots.push_back(std::move(described));
  PropertySet in_args("describe inArgs");
  in_args.Set(kOfxImageEffectPropContext, 0, context);
  ActionResult result = Run(kOfxImageEffectActionDescribeInContext, slots.back()->Handle(), &in_args, nullptr);
  if (result.message.empty()) result.message = slots.back()->TakeErrors();
  return result;
}

Effect& Plugin::NewInstance(const std::string& context) {
  Effect* descriptor = ContextDescriptor(context);
  if (!descriptor) throw HostError(Identifier() + " was not described in context " + context);
  std::lock_guard lock(instances_mutex_);
  instances_.push_back(Effect::Instantiate(*descriptor));
  return *instances_.back();
}

ActionResult Plugin::CreateInstance(Effect& instance) {
  return Run(kOfxActionCreateInstance, instance.Handle(), nullptr, nullptr);
}


ActionResult Plugin::DestroyInstance(Effect& instance) {
  if (!Holds(instance)) return {kOfxActionDestroyInstance, kOfxStatErrBadHandle};
  ActionResult result = Run(kOfxActionDestroyInstance, instance.Handle(), nullptr, nullptr);
  DiscardInstance(instance);
  return result;
}

void Plugin::DiscardInstance(Effect& instance) {
  std::lock_guard lock(instances_mutex_);
  instances_.erase(std::remove_if(instances_.begin(), instances_.end(),
                                  [&](const auto& held) { return held.get() == &instance; }),
                   instances_.end());
}

ActionResult Plugin::Unload() {
  owes_unload_ = false;
  return Run(kOfxActionUnload, nullptr, nullptr, nullptr);
}

void Plugin::Start(const StepListener& before_step) {
  const auto step = [&](const char* name, const std::string& context = std::string()) {
    if (before_step) before_step(name, context);
  };
  step(kSetHostStep);
  CheckApi();
  SetHost();
  step(kOfxActionLoad);
  Load().Check();
  step(kOfxActionDescribe);
  const ActionResult described = Describe();
  if (!described.Succeeded()) {
    owes_unload_ = false;
    described.Check();
  }
  // A plug-in that described itself is owed an unload, even if a context
  // fails.
  try {
    for (const auto& context : SupportedContexts()) {
      step(kOfxImageEffectActionDescribeInContext, context);
      DescribeInContext(context).Check();
    }
  } catch (...) {
    Unload();
    throw;
  }
}

Effect& Plugin::Instantiate(const std::string& context) {
  Effect& instance = NewInstance(context);
  ActionResult result = CreateInstance(instance);
  if (!result.Succeeded()) {
    DiscardInstance(instance);
    result.Check();
  }
  return instance;
}

void Plugin::Shutdown() {
  for (Effect* instance : Instances()) DestroyInstance(*instance).Check();
  if (owes_unload_) Unload().Check();
}

Effect& Plugin::Descriptor() {
  if (!descriptor_) throw HostError(Identifier() + " has not been described");
  return *descriptor_;
}

Effect* Plugin::ContextDescriptor(const std::string& context) {
  for (auto& descriptor : context_descriptors_) {
    if (descriptor->Context() == context) return descriptor.get();
  }
  return nullptr;
}

std::vector<std::string> Plugin::SupportedContexts() {
  std::vector<std::string> contexts;
  if (const Property* found = Descriptor().Properties().Lookup(kOfxImageEffectPropSupportedContexts)) {
    for (const auto& value : found->values) {
      if (auto* context = std::get_if<std::string>(&value)) contexts.push_back(*context);
    }
  }
  return contexts;
}

// Compares addresses only, so an instance freed earlier is safe to ask about.
bool Plugin::Holds(const Effect& instance) {
  std::lock_guard lock(instances_mutex_);
  return std::any_of(instances_.begin(), instances_.end(), [&](const auto& held) { return held.get() == &instance; });
}

std::vector<Effect*> Plugin::Instances() {
  std::lock_guard lock(instances_mutex_);
  std::vector<Effect*> instances;
  for (auto& instance : instances_) instances.push_back(instance.get());
  return instances;
}

}  // namespace lenstrove::host