#include "param_set.h"

#include <cfloat>
#include <climits>
#include <iterator>
#include <optional>

#include "status.h"

namespace lenstrove::host {

namespace {

struct ParamTypeInfo {
  const char* type;
  ValueKind kind;
};

constexpr ParamTypeInfo kParamTypes[] = {
    {kOfxParamTypeGroup, ValueKind::kNone},     {kOfxParamTypePage, ValueKind::kNone},
    {kOfxParamTypePushButton, ValueKind::kNone}, {kOfxParamTypeBoolean, ValueKind::kInt},
    {kOfxParamTypeInteger, ValueKind::kInt},    {kOfxParamTypeChoice, ValueKind::kInt},
    {kOfxParamTypeDouble, ValueKind::kDouble},  {kOfxParamTypeString, ValueKind::kString},
};

std::optional<ValueKind> KindOfType(std::string_view type) {
  for (const auto& info : kParamTypes) {
    if (type == info.type) return info.kind;
  }
  return std::nullopt;
}

void SetRange(PropertySet& properties, PropertyValue low, PropertyValue high) {
  properties.Set(kOfxParamPropMin, 0, low);
  properties.Set(kOfxParamPropMax, 0, high);
  properties.Set(kOfxParamPropDisplayMin, 0, low);
  properties.Set(kOfxParamPropDisplayMax, 0, high);
}

// What a host assumes for every property the plug-in leaves unset.
PropertySet DefinitionDefaults(std::string_view type, std::string_view name, ValueKind kind) {
  PropertySet properties("param " + std::string(name));
  properties.Set(kOfxPropType, 0, kOfxTypeParameter);
  properties.Set(kOfxPropName, 0, std::string(name));
  properties.Set(kOfxParamPropType, 0, std::string(type));
  properties.Set(kOfxPropLabel, 0, std::string(name));
  properties.Set(kOfxParamPropScriptName, 0, std::string(name));
  properties.Set(kOfxParamPropHint, 0, "");
  properties.Set(kOfxParamPropParent, 0, "");
  properties.Set(kOfxParamPropSecret, 0, 0);
  properties.Set(kOfxParamPropEnabled, 0, 1);
  if (kind == ValueKind::kNone) return properties;
  properties.Set(kOfxParamPropAnimates, 0, 1);
  if (kind == ValueKind::kString) properties.Set(kOfxParamPropDefault, 0, "");
  if (kind == ValueKind::kInt) properties.Set(kOfxParamPropDefault, 0, 0);
  if (type == kOfxParamTypeInteger) SetRange(properties, INT_MIN, INT_MAX);
  if (kind == ValueKind::kDouble) {
    properties.Set(kOfxParamPropDefault, 0, 0.0);
    SetRange(properties, -DBL_MAX, DBL_MAX);
  }
  return properties;
}

// The limit's first value, if the plug-in kept it of the parameter's type.
template <class T>
const T* Limit(const PropertySet& properties, std::string_view name) {
  const Property* limit = properties.Lookup(name);
  return limit && !limit->values.empty() ? std::get_if<T>(&limit->values[0]) : nullptr;
}

}  // namespace

Param::Param(Host& host, ParamSet& owner, std::string name, std::string type, PropertySet properties)
    : owner_(owner),
      name_(std::move(name)),
      type_(std::move(type)),
      kind_(KindOfType(type_).value_or(ValueKind::kNone)),
      properties_(std::move(properties)),
      self_registration_(this, HandleKind::kParam, host),
      properties_registration_(&properties_, HandleKind::kPropertySet, host) {}

double Param::DoubleAt(OfxTime time) const {
  if (keys_.empty()) return double_value_;
  auto upper = keys_.lower_bound(time);
  if (upper == keys_.end()) return std::prev(upper)->second;
  if (upper->first == time || upper == keys_.begin()) return upper->second;
  auto lower = std::prev(upper);
  auto [t0, v0] = *lower;
  auto [t1, v1] = *upper;
  return v0 + (v1 - v0) * ((time - t0) / (t1 - t0));
}

double Param::DerivativeAt(OfxTime time) const {
  auto upper = keys_.upper_bound(time);
  if (upper == keys_.begin() || upper == keys_.end()) return 0;
  auto lower = std::prev(upper);
  return (upper->second - lower->second) / (upper->first - lower->first);
}

// The curve is straight between keys, so trapezoids between the ends and
// every key in between give the exact area.
double Param::IntegralOver(OfxTime from, OfxTime to) const {
  if (from > to) return -IntegralOver(to, from);
  double area = 0;
  OfxTime previous = from;
  for (auto key = keys_.upper_bound(from); key != keys_.end() && key->first < to; ++key) {
    area += (DoubleAt(previous) + key->second) / 2 * (key->first - previous);
    previous = key->first;
  }
  return area + (DoubleAt(previous) + DoubleAt(to)) / 2 * (to - previous);
}

template <class T>
bool Param::Clamp(T* value) const {
  const T* low = Limit<T>(properties_, kOfxParamPropMin);
  const T* high = Limit<T>(properties_, kOfxParamPropMax);
  if (low && *value < *low) {
    *value = *low;
    return true;
  }
  if (high && *value > *high) {
    *value = *high;
    return true;
  }
  return false;
}

bool Param::SetDouble(double value) {
  bool clamped = Clamp(&value);
  keys_.clear();
  double_value_ = value;
  return clamped;
}

bool Param::SetDoubleAt(OfxTime time, double value) {
  const Property* animates = properties_.Lookup(kOfxParamPropAnimates);
  bool animated = !animates || animates->values.empty() || animates->values[0] != PropertyValue(0);
  if (!animated) return SetDouble(value);
  bool clamped = Clamp(&value);
  keys_[time] = value;
  return clamped;
}

bool Param::SetInt(int value) {
  bool clamped = Clamp(&value);
  int_value_ = value;
  return clamped;
}

void Param::ResetToDefault() {
  keys_.clear();
  const Property* found = properties_.Lookup(kOfxParamPropDefault);
  if (!found || found->values.empty()) return;
  const PropertyValue& value = found->values[0];
  if (auto* number = std::get_if<double>(&value)) double_value_ = *number;
  if (auto* integer = std::get_if<int>(&value)) int_value_ = *integer;
  if (auto* text = std::get_if<std::string>(&value)) string_value_ = *text;
}

int Param::KeyIndex(OfxTime time, int direction) const {
  auto found = direction > 0 ? keys_.upper_bound(time) : keys_.lower_bound(time);
  if (direction < 0) {
    if (found == keys_.begin()) return -1;
    --found;
  } else if (found == keys_.end() || (direction == 0 && found->first != time)) {
    return -1;
  }
  return static_cast<int>(std::distance(keys_.begin(), found));
}

OfxStatus Param::CopyFrom(const Param& from, OfxTime offset, const OfxRangeD* range) {
  if (from.type_ != type_) return kOfxStatErrValue;
  double_value_ = from.double_value_;
  int_value_ = from.int_value_;
  string_value_ = from.string_value_;
  if (!range) keys_.clear();
  for (auto [time, value] : from.keys_) {
    if (!range || (time >= range->min && time <= range->max)) keys_[time + offset] = value;
  }
  return kOfxStatOK;
}

ParamSet::ParamSet(Host& host, bool descriptor)
    : host_(host),
      descriptor_(descriptor),
      properties_("param set"),
      self_registration_(this, HandleKind::kParamSet, host),
      properties_registration_(&properties_, HandleKind::kPropertySet, host) {}

OfxStatus ParamSet::Define(std::string_view type, std::string_view name, Param** param) {
  if (!descriptor_) return kOfxStatErrUnsupported;
  std::optional<ValueKind> kind = KindOfType(type);
  if (!kind) return kOfxStatErrUnknown;
  if (Find(name)) return kOfxStatErrExists;
  params_.push_back(std::make_unique<Param>(host_, *this, std::string(name), std::string(type),
                                            DefinitionDefaults(type, name, *kind)));
  *param = params_.back().get();
  return kOfxStatOK;
}

void ParamSet::CopyDefinitions(const ParamSet& definitions) {
  for (const auto& definition : definitions.params_) {
    PropertySet properties = definition->Properties();
    properties.Set(kOfxPropType, 0, kOfxTypeParameterInstance);
    auto param = std::make_unique<Param>(host_, *this, definition->Name(), definition->Type(), properties);
    param->ResetToDefault();
    params_.push_back(std::move(param));
  }
}

Param* ParamSet::Find(std::string_view name) {
  for (auto& param : params_) {
    if (param->Name() == name) return param.get();
  }
  return nullptr;
}

Param& ParamSet::Get(std::string_view name) {
  Param* param = Find(name);
  if (!param) throw HostError("no parameter named \"" + std::string(name) + "\"");
  return *param;
}

OfxStatus ParamSet::BeginEdit(std::string_view name) {
  if (editing_) return kOfxStatFailed;
  editing_ = true;
  edit_name_ = name;
  return kOfxStatOK;
}

OfxStatus ParamSet::EndEdit() {
  if (!editing_) return kOfxStatFailed;
  editing_ = false;
  edit_name_.clear();
  return kOfxStatOK;
}

}  // namespace lenstrove::host
