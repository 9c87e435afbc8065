#include "plugin.h"

#include <algorithm>
#include <optional>
#include <string_view>

#include "host.h"
#include "plugin_module.h"

namespace lenstrove::host {

Plugin::Plugin(Host& host, std::shared_ptr<PluginModule> module, int index)
    : host_(host), module_(std::move(module)), record_(module_->Get(index)) {
  if (!record_) throw HostError(module_->Path() + ": OfxGetPlugin(" + std::to_string(index) + ") returned null");
}

std::string Plugin::Identifier() const {
  return record_->pluginIdentifier ? record_->pluginIdentifier : "(unnamed plug-in)";
}

void Plugin::CheckApi() const {
  const char* api = record_->pluginApi;
  if (!api || std::string_view(api) != kOfxImageEffectPluginApi ||
      record_->apiVersion != kOfxImageEffectPluginApiVersion) {
    throw HostError(Identifier() + " is not an image effect of API version 1 (API \"" + (api ? api : "null") +
                    "\", version " + std::to_string(record_->apiVersion) + ")");
  }
}

void Plugin::SetHost() {
  if (!record_->setHost) throw HostError(Identifier() + " has no setHost");
  ActiveHostScope scope(host_);
  record_->setHost(host_.Record());
}

ActionResult Plugin::CallAction(const char* action, const void* handle, OfxPropertySetHandle in_args,
                                OfxPropertySetHandle out_args) {
  if (!record_->mainEntry) throw HostError(Identifier() + " has no mainEntry");
  ActiveHostScope scope(host_);
  OfxStatus status = record_->mainEntry(action, handle, in_args, out_args);
  return {action ? action : "(null action)", status};
}

// The argument sets are valid handles only while the action runs.
ActionResult Plugin::Run(const char* action, const void* handle, PropertySet* in_args, PropertySet* out_args) {
  std::optional<Registration> in_registration, out_registration;
  if (in_args) in_registration.emplace(in_args, HandleKind::kPropertySet, host_);
  if (out_args) out_registration.emplace(out_args, HandleKind::kPropertySet, host_);
  return CallAction(action, handle, in_args ? in_args->Handle() : nullptr, out_args ? out_args->Handle() : nullptr);
}

ActionResult Plugin::Load() { return Run(kOfxActionLoad, nullptr, nullptr, nullptr); }

ActionResult Plugin::Describe() {
  descriptor_ = std::make_unique<Effect>(host_, std::string(), PropertySet());
  return Run(kOfxActionDescribe, descriptor_->Handle(), nullptr, nullptr);
}

ActionResult Plugin::DescribeInContext(const std::string& context) {
  auto described = std::make_unique<Effect>(host_, context, Descriptor().Properties());
  auto& slots = context_descriptors_;
  slots.erase(std::remove_if(slots.begin(), slots.end(), [&](const auto& old) { return old->Context() == context; }),
              slots.end());
  slots.push_back(std::move(described));
  PropertySet in_args("describe inArgs");
  in_args.Set(kOfxImageEffectPropContext, 0, context);
  return Run(kOfxImageEffectActionDescribeInContext, slots.back()->Handle(), &in_args, nullptr);
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

ActionResult Plugin::Render(Effect& instance, const RenderRequest& request) {
  const OfxRectI& window = request.window;
  PropertySet in_args("render inArgs");
  PropertySet out_args("render outArgs");
  in_args.Set(kOfxPropTime, 0, request.time);
  in_args.Set(kOfxImageEffectPropFieldToRender, 0, kOfxImageFieldNone);
  in_args.SetN(kOfxImageEffectPropRenderWindow, PropertyType::kInt, {window.x1, window.y1, window.x2, window.y2});
  in_args.SetN(kOfxImageEffectPropRenderScale, PropertyType::kDouble, {request.scale_x, request.scale_y});
  in_args.Set(kOfxImageEffectPropSequentialRenderStatus, 0, request.sequential ? 1 : 0);
  in_args.Set(kOfxImageEffectPropInteractiveRenderStatus, 0, request.interactive ? 1 : 0);
  instance.SetTime(request.time);
  return Run(kOfxImageEffectActionRender, instance.Handle(), &in_args, &out_args);
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

ActionResult Plugin::Unload() { return Run(kOfxActionUnload, nullptr, nullptr, nullptr); }

void Plugin::Start() {
  CheckApi();
  SetHost();
  Load().Check();
  // A plug-in that loaded is owed an unload, even if describing fails.
  try {
    Describe().Check();
    for (const auto& context : SupportedContexts()) DescribeInContext(context).Check();
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
  Unload().Check();
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
