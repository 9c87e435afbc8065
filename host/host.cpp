#include "host.h"

#include <cctype>
#include <cstdio>
#include <string_view>

#include "effect.h"
#include "ofx/ofxMessage.h"
#include "ofx/ofxParam.h"
#include "plugin_module.h"
#include "property_table.h"
#include "suites.h"

namespace lenstrove::host {

namespace {

// What this host is and supports, over the standard's defaults.
void AddHostProperties(PropertySet& properties) {
  properties.Set(kOfxPropName, 0, "org.lenstrove.host");
  properties.Set(kOfxPropLabel, 0, "Lenstrove");
  properties.SetN(kOfxPropAPIVersion, PropertyType::kInt, {1, 4});
  properties.SetN(kOfxPropVersion, PropertyType::kInt, {1, 0, 0});
  properties.Set(kOfxPropVersionLabel, 0, "1.0");
  properties.Set(kOfxPropIsInteractive, 0, 0);
  properties.Set(kOfxImageEffectHostPropIsBackground, 0, 1);
  properties.Set(kOfxImageEffectHostPropNativeOrigin, 0, kOfxHostNativeOriginBottomLeft);
  // Nothing is drawn on screen and nothing renders on the graphics card.
  properties.Set(kOfxImageEffectPropSupportsOverlays, 0, 0);
  properties.Set(kOfxImageEffectPropOpenGLRenderSupported, 0, "false");
  properties.Set(kOfxImageEffectPropSetableFrameRate, 0, 0);
  properties.Set(kOfxImageEffectPropSetableFielding, 0, 0);
  properties.Set(kOfxImageEffectPropRenderQualityDraft, 0, 0);
  properties.Set(kOfxImageEffectInstancePropSequentialRender, 0, 0);
  properties.Set(kOfxParamHostPropSupportsCustomInteract, 0, 0);
  properties.Set(kOfxParamHostPropSupportsCustomAnimation, 0, 1);
  properties.Set(kOfxParamHostPropSupportsStringAnimation, 0, 1);
  properties.Set(kOfxParamHostPropSupportsBooleanAnimation, 0, 1);
  properties.Set(kOfxParamHostPropSupportsChoiceAnimation, 0, 1);
  properties.Set(kOfxParamHostPropSupportsParametricAnimation, 0, 0);
  properties.Set(kOfxParamHostPropMaxParameters, 0, -1);
  properties.Set(kOfxParamHostPropMaxPages, 0, 0);
  properties.SetN(kOfxParamHostPropPageRowColumnCount, PropertyType::kInt, {0, 0});
  properties.Set(kOfxImageEffectPropSupportsMultiResolution, 0, 1);
  properties.Set(kOfxImageEffectPropSupportsTiles, 0, 1);
  properties.Set(kOfxImageEffectPropTemporalClipAccess, 0, 1);
  properties.Set(kOfxImageEffectPropSupportsMultipleClipDepths, 0, 1);
  properties.Set(kOfxImageEffectPropSupportsMultipleClipPARs, 0, 0);
  properties.Set(kOfxImageEffectPluginPropHostFrameThreading, 0, 0);
  properties.SetN(kOfxImageEffectPropSupportedContexts, PropertyType::kString,
                  {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral, kOfxImageEffectContextGenerator});
  properties.SetN(kOfxImageEffectPropSupportedPixelDepths, PropertyType::kString,
                  {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthHalf, kOfxBitDepthFloat});
  properties.SetN(kOfxImageEffectPropSupportedComponents, PropertyType::kString,
                  {kOfxImageComponentRGBA, kOfxImageComponentRGB, kOfxImageComponentAlpha});
  AddStandardProperties(properties, kHostObject);
}

}  // namespace

MemoryBlock::MemoryBlock(Host& host, size_t size)
    : bytes_(new unsigned char[size]), registration_(this, HandleKind::kMemory, host) {}

void* MemoryBlock::Lock() {
  ++locks_;
  return bytes_.get();
}

bool MemoryBlock::Unlock() {
  if (locks_ == 0) return false;
  --locks_;
  return true;
}

Host::Host()
    : properties_("host"),
      record_{properties_.Handle(), &FetchSuiteEntry},
      properties_registration_(&properties_, HandleKind::kPropertySet, *this) {
  AddHostProperties(properties_);
  HandleRegistry::Instance().AddHost(*this);
}

Host::~Host() { HandleRegistry::Instance().RemoveHost(*this); }

OfxHost* Host::Record() {
  record_.fetchSuite = faults_.null_fetch_suite ? nullptr : &FetchSuiteEntry;
  return &record_;
}

const void* Host::FetchSuite(const char* name, int version) {
  bool left_out = !name || faults_.missing_suites.count(std::string_view(name));
  const void* suite = left_out ? nullptr : FindSuite(name, version);
  if (log_.Enabled()) {
    std::string args = std::string(name ? name : "null") + ", " + std::to_string(version);
    log_.Add({"fetchSuite", std::move(args), suite ? kOfxStatOK : kOfxStatErrMissingHostFeature});
  }
  return suite;
}

std::unique_ptr<Plugin> Host::Open(const std::string& path, int index) {
  auto module = std::make_shared<PluginModule>(path);
  int count = module->Count();
  if (index < 0 || index >= count) {
    throw HostError(module->Path() + " has no plug-in " + std::to_string(index) + " (it holds " +
                    std::to_string(count) + ")");
  }
  auto plugin = std::make_unique<Plugin>(*this, std::move(module), index);
  plugin->Start();
  return plugin;
}

OfxStatus Host::AllocateMemory(size_t size, OfxImageMemoryHandle* handle) {
  if (size > kMaxMemoryBlock) return kOfxStatErrMemory;
  auto block = std::make_unique<MemoryBlock>(*this, size);
  *handle = block->Handle();
  std::lock_guard lock(memory_mutex_);
  memory_.emplace(block.get(), std::move(block));
  return kOfxStatOK;
}

void Host::FreeMemory(MemoryBlock& block) {
  std::lock_guard lock(memory_mutex_);
  memory_.erase(&block);
}

size_t Host::MemoryBlocks() const {
  std::lock_guard lock(memory_mutex_);
  return memory_.size();
}

OfxStatus Host::AllocateGeneralMemory(size_t size, void** data) {
  if (size > kMaxMemoryBlock) return kOfxStatErrMemory;
  std::unique_ptr<unsigned char[]> bytes(new unsigned char[size > 0 ? size : 1]);
  *data = bytes.get();
  std::lock_guard lock(memory_mutex_);
  general_memory_.emplace(*data, std::move(bytes));
  return kOfxStatOK;
}

bool Host::FreeGeneralMemory(void* data) {
  std::lock_guard lock(memory_mutex_);
  return general_memory_.erase(data) > 0;
}

size_t Host::GeneralMemoryBlocks() const {
  std::lock_guard lock(memory_mutex_);
  return general_memory_.size();
}

void Host::SetMessageHandler(MessageHandler handler) {
  std::lock_guard lock(message_mutex_);
  message_handler_ = std::move(handler);
}

namespace {

// "OfxMessageWarning" -> "warning".
std::string Severity(std::string_view type) {
  constexpr std::string_view kPrefix = "OfxMessage";
  if (type.substr(0, kPrefix.size()) == kPrefix) type.remove_prefix(kPrefix.size());
  std::string word(type);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word;
}

}  // namespace

void Host::PostMessage(const Message& message) {
  if (message.effect && (message.type == kOfxMessageError || message.type == kOfxMessageFatal)) {
    message.effect->NoteError(message.text);
  }
  std::lock_guard lock(message_mutex_);
  if (message_handler_) {
    message_handler_(message);
    return;
  }
  std::string label = message.effect ? message.effect->PluginLabel() : "plug-in";
  std::fprintf(stderr, "%s: %s: %s\n", label.c_str(), Severity(message.type).c_str(), message.text.c_str());
}

}  // namespace lenstrove::host
