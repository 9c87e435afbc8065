// An instance's parameter values, and the public face of its renders.

#include <utility>

#include "session/instance_impl.h"
#include "session/session_internal.h"

namespace lenstrove::session {

Instance::Instance(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
Instance::Instance(Instance&&) noexcept = default;
Instance& Instance::operator=(Instance&&) noexcept = default;
Instance::~Instance() = default;

const PluginDescription& Instance::Description() const { return impl_->Description(); }

std::vector<std::string> Instance::Set(const std::string& name, const Value& value) {
  std::vector<std::string> warnings;
  impl_->Apply(ResolveSetting(Description().parameters, name, value, warnings, impl_->Self()));
  return warnings;
}

std::vector<std::string> Instance::SetKeys(const std::string& name, const Keys& keys) {
  std::vector<std::string> warnings;
  impl_->Apply(ResolveKeys(Description().parameters, name, keys, warnings, impl_->Self()));
  return warnings;
}

void Instance::Apply(const std::vector<ResolvedSetting>& settings) {
  for (const ResolvedSetting& setting : settings) impl_->Apply(setting);
}

void Instance::SetFrameRange(double first, double last) { impl_->SetFrameRange(first, last); }
void Instance::SetFrameSource(FrameSource source) { impl_->SetFrameSource(std::move(source)); }
void Instance::SetProgressListener(std::function<void(double)> listener) {
  impl_->SetProgressListener(std::move(listener));
}
void Instance::AllowGrowth(std::int64_t pixelLimit, const std::string& limitName) {
  impl_->AllowGrowth(pixelLimit, limitName);
}

void Instance::Render(const Picture& source, const OutputMaker& output, double time,
                      const std::vector<RenderWindow>& windows) {
  impl_->Render(source, output, time, windows);
}

void Instance::Render(const Picture& source, const Picture& output, double time,
                      const std::vector<RenderWindow>& windows) {
  const OutputMaker into = [&](const PixelRect& window) {
    if (window.width != output.width || window.height != output.height)
      throw Error("the output of " + std::to_string(output.width) + "x" + std::to_string(output.height) +
                  " pixels cannot hold the " + std::to_string(window.width) + "x" + std::to_string(window.height) +
                  " the plug-in renders");
    return output;
  };
  impl_->Render(source, into, time, windows);
}

Instance::Impl::Impl(std::shared_ptr<Plugin::Loaded> loaded, host::Effect& effect, std::string self)
    : loaded_(std::move(loaded)), plugin_(*loaded_->plugin), effect_(effect), self_(std::move(self)) {}

Instance::Impl::~Impl() {
  // A failing destroy cannot be reported from a destructor, and the
  // instance is freed either way.
  try {
    plugin_.DestroyInstance(effect_);
  } catch (const std::exception&) {
    // Nothing more can be done for an instance that is going away.
  }
}

void Instance::Impl::AllowGrowth(std::int64_t pixelLimit, const std::string& limitName) {
  pixelLimit_ = pixelLimit;
  limitName_ = limitName;
}

// Sets the parameter and tells the plug-in, as a user edit. Values of the
// kinds a plug-in reads as fractions of the frame are given in pixels and
// converted for the current frame.
void Instance::Impl::Apply(const ResolvedSetting& setting) {
  host::Param* param = effect_.Params().Find(setting.name);
  if (param == nullptr) throw Error("unknown parameter '" + setting.name + "'");
  const auto stored = [&](const ResolvedValue& value) {
    return param->FromCanonical(host::ParamValue{value.numbers, value.text}, effect_.Project());
  };
  if (setting.keys.empty()) param->SetValue(stored(setting.value));
  for (const ResolvedKey& key : setting.keys) param->SetValueAt(key.time, stored(key.value));
  try {
    plugin_.ParamChanged(effect_, setting.name, effect_.Params().Time()).Check();
  } catch (const host::PluginError& error) {
    throw PluginFailure(Identifier(), error);
  }
  preferences_.reset();  // a parameter may change what the plug-in prefers
  if (param->HoldsFractions()) framed_.push_back(setting);
}

// The project is the frame being rendered (its display window). When it
// changes, the spatial defaults given as fractions of it, and the
// settings given in pixels for parameters that hold fractions, are placed
// in the new one.
void Instance::Impl::PlaceInFrame(const PixelRect& frame) {
  const host::ProjectFrame project{double(frame.width), double(frame.height), 0, 0};
  const host::ProjectFrame& now = effect_.Project();
  if (now.width == project.width && now.height == project.height) return;
  effect_.SetProject(project);
  for (const ResolvedSetting& setting : std::exchange(framed_, {})) Apply(setting);
}

}  // namespace lenstrove::session
