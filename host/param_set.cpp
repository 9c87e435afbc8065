#include "param_set.h"

#include <cfloat>
#include <climits>
#include <cmath>
#include <algorithm>
#include <iterator>
#include <optional>

#include "property_table.h"
#include "status.h"

namespace lenstrove::host {

namespace {

enum class Motion { kNone, kLinear, kRounded, kStepped };

struct ParamTypeInfo {
  const char* type;
  ValueKind kind;
  int dimension;
  Motion motion;
};

constexpr ParamTypeInfo kParamTypes[] = {
    {kOfxParamTypeGroup, ValueKind::kNone, 0, Motion::kNone},
    {kOfxParamTypePage, ValueKind::kNone, 0, Motion::kNone},
    {kOfxParamTypePushButton, ValueKind::kNone, 0, Motion::kNone},
    {kOfxParamTypeBoolean, ValueKind::kInt, 1, Motion::kStepped},
    {kOfxParamTypeChoice, ValueKind::kInt, 1, Motion::kStepped},
    {kOfxParamTypeInteger, ValueKind::kInt, 1, Motion::kRounded},
    {kOfxParamTypeInteger2D, ValueKind::kInt, 2, Motion::kRounded},
    {kOfxParamTypeInteger3D, ValueKind::kInt, 3, Motion::kRounded},
    {kOfxParamTypeDouble, ValueKind::kDouble, 1, Motion::kLinear},
    {kOfxParamTypeDouble2D, ValueKind::kDouble, 2, Motion::kLinear},
    {kOfxParamTypeDouble3D, ValueKind::kDouble, 3, Motion::kLinear},
    {kOfxParamTypeRGB, ValueKind::kDouble, 3, Motion::kLinear},
    {kOfxParamTypeRGBA, ValueKind::kDouble, 4, Motion::kLinear},
    {kOfxParamTypeString, ValueKind::kString, 0, Motion::kStepped},
    {kOfxParamTypeCustom, ValueKind::kString, 0, Motion::kStepped},
};

// The spatial kinds of double parameters: which axis their first value
// lies on (the next on the next), whether they are positions (which count
// from the project's corner) and whether their values are fractions.
struct SpatialType {
  const char* type;
  int first_axis;  // 0 x, 1 y
  bool position;
  bool fractions;
};

constexpr SpatialType kSpatialTypes[] = {
    {kOfxParamDoubleTypeX, 0, false, false},
    {kOfxParamDoubleTypeXAbsolute, 0, true, false},
    {kOfxParamDoubleTypeY, 1, false, false},
    {kOfxParamDoubleTypeYAbsolute, 1, true, false},
    {kOfxParamDoubleTypeXY, 0, false, false},
    {kOfxParamDoubleTypeXYAbsolute, 0, true, false},
    {kOfxParamDoubleTypeNormalisedX, 0, false, true},
    {kOfxParamDoubleTypeNormalisedXAbsolute, 0, true, true},
    {kOfxParamDoubleTypeNormalisedY, 1, false, true},
    {kOfxParamDoubleTypeNormalisedYAbsolute, 1, true, true},
    {kOfxParamDoubleTypeNormalisedXY, 0, false, true},
    {kOfxParamDoubleTypeNormalisedXYAbsolute, 0, true, true},
};

const SpatialType* SpatialTypeOf(const PropertySet& properties) {
  const Property* found = properties.Lookup(kOfxParamPropDoubleType);
  const auto* type = found && !found->values.empty() ? std::get_if<std::string>(&found->values[0]) : nullptr;
  if (!type) return nullptr;
  for (const auto& spatial : kSpatialTypes) {
    if (*type == spatial.type) return &spatial;
  }
  return nullptr;
}

// Value i of a spatial kind as canonical coordinates, from a fraction of the project.
double Placed(const SpatialType& spatial, size_t i, double fraction, const ProjectFrame& project) {
  const bool y = spatial.first_axis + i == 1;
  return fraction * (y ? project.height : project.width) + (spatial.position ? (y ? project.y : project.x) : 0);
}

const ParamTypeInfo* InfoOf(std::string_view type) {
  for (const auto& info : kParamTypes) {
    if (type == info.type) return &info;
  }
  return nullptr;
}

// The parameter's own names over the standard's defaults for its type.
PropertySet DefinitionDefaults(std::string_view type, std::string_view name) {
  PropertySet properties("param " + std::string(name));
  properties.Set(kOfxPropName, 0, std::string(name));
  properties.Set(kOfxParamPropType, 0, std::string(type));
  properties.Set(kOfxPropLabel, 0, std::string(name));
  properties.Set(kOfxParamPropScriptName, 0, std::string(name));
  AddStandardProperties(properties, ParamCarrier(type));
  return properties;
}

// Value `index` of a numeric property as a double, if the plug-in set it.
std::optional<double> NumberOf(const PropertySet& properties, std::string_view name, size_t index) {
  const Property* found = properties.Lookup(name);
  if (!found || found->values.size() <= index) return std::nullopt;
  if (auto* number = std::get_if<double>(&found->values[index])) return *number;
  if (auto* integer = std::get_if<int>(&found->values[index])) return *integer;
  return std::nullopt;
}

}  // namespace

Param::Param(Host& host, ParamSet& owner, std::string name, std::string type, PropertySet properties)
    : owner_(owner),
      name_(std::move(name)),
      type_(std::move(type)),
      properties_(std::move(properties)),
      self_registration_(this, HandleKind::kParam, host),
      properties_registration_(&properties_, HandleKind::kPropertySet, host) {
  const ParamTypeInfo* info = InfoOf(type_);
  kind_ = info ? info->kind : ValueKind::kNone;
  dimension_ = info ? info->dimension : 0;
  stepped_ = info && info->motion == Motion::kStepped;
  rounded_ = info && info->motion == Motion::kRounded;
  value_.numbers.assign(static_cast<size_t>(dimension_), 0.0);
}

ParamValue Param::Between(const ParamValue& before, const ParamValue& after, double fraction) const {
  if (stepped_) return before;
  ParamValue value = before;
  for (size_t i = 0; i < value.numbers.size() && i < after.numbers.size(); ++i) {
    double v0 = before.numbers[i], v1 = after.numbers[i];
    value.numbers[i] = v0 + (v1 - v0) * fraction;
    if (rounded_) value.numbers[i] = std::round(value.numbers[i]);
  }
  return value;
}

ParamValue Param::ValueAt(OfxTime time) const {
  if (keys_.empty()) return value_;
  auto upper = keys_.lower_bound(time);
  if (upper == keys_.end()) return std::prev(upper)->second;
  if (upper->first == time || upper == keys_.begin()) return upper->second;
  auto lower = std::prev(upper);
  return Between(lower->second, upper->second, (time - lower->first) / (upper->first - lower->first));
}

double Param::NumberAt(OfxTime time, int dimension) const {
  ParamValue value = ValueAt(time);
  return dimension >= 0 && static_cast<size_t>(dimension) < value.numbers.size() ? value.numbers[dimension] : 0.0;
}

int Param::IntValue() const { return static_cast<int>(NumberAt(owner_.Time(), 0)); }

const std::string& Param::StringValue() const { return StringAt(owner_.Time()); }

// Strings never blend, so the answer is always one of the stored values.
const std::string& Param::StringAt(OfxTime time) const {
  if (keys_.empty()) return value_.text;
  auto after = keys_.upper_bound(time);
  return after == keys_.begin() ? after->second.text : std::prev(after)->second.text;
}

double Param::DerivativeAt(OfxTime time, int dimension) const {
  auto upper = keys_.upper_bound(time);
  if (upper == keys_.begin() || upper == keys_.end()) return 0;
  auto lower = std::prev(upper);
  return (upper->second.numbers[dimension] - lower->second.numbers[dimension]) / (upper->first - lower->first);
}

// The curve is straight between keys, so trapezoids between the ends and
// every key in between give the exact area.
double Param::IntegralOver(OfxTime from, OfxTime to, int dimension) const {
  if (from > to) return -IntegralOver(to, from, dimension);
  double area = 0;
  OfxTime previous = from;
  for (auto key = keys_.upper_bound(from); key != keys_.end() && key->first < to; ++key) {
    area += (NumberAt(previous, dimension) + key->second.numbers[dimension]) / 2 * (key->first - previous);
    previous = key->first;
  }
  return area + (NumberAt(previous, dimension) + NumberAt(to, dimension)) / 2 * (to - previous);
}

bool Param::Clamp(ParamValue* value) const {
  value->numbers.resize(static_cast<size_t>(dimension_), 0.0);
  bool clamped = false;
  for (size_t i = 0; i < value->numbers.size(); ++i) {
    double& number = value->numbers[i];
    if (rounded_ || kind_ == ValueKind::kInt) number = std::trunc(number);
    std::optional<double> low = NumberOf(properties_, kOfxParamPropMin, i);
    std::optional<double> high = NumberOf(properties_, kOfxParamPropMax, i);
    if (low && number < *low) {
      number = *low;
      clamped = true;
    } else if (high && number > *high) {
      number = *high;
      clamped = true;
    }
  }
  return clamped;
}

bool Param::Animates() const {
  const Property* animates = properties_.Lookup(kOfxParamPropAnimates);
  return !animates || animates->values.empty() || animates->values[0] != PropertyValue(0);
}

bool Param::SetValue(ParamValue value) {
  holds_default_ = false;
  bool clamped = Clamp(&value);
  keys_.clear();
  value_ = std::move(value);
  return clamped;
}

bool Param::SetValueAt(OfxTime time, ParamValue value) {
  if (!Animates()) return SetValue(std::move(value));
  holds_default_ = false;
  bool clamped = Clamp(&value);
  keys_[time] = std::move(value);
  return clamped;
}

bool Param::SetDouble(double value) {
  ParamValue changed = value_;
  changed.numbers.resize(std::max<size_t>(1, changed.numbers.size()));
  changed.numbers[0] = value;
  return SetValue(std::move(changed));
}

bool Param::SetDoubleAt(OfxTime time, double value) {
  ParamValue changed = ValueAt(time);
  changed.numbers.resize(std::max<size_t>(1, changed.numbers.size()));
  changed.numbers[0] = value;
  return SetValueAt(time, std::move(changed));
}

bool Param::SetInt(int value) { return SetDouble(value); }

void Param::SetString(std::string value) { SetValue({{}, std::move(value)}); }

void Param::ResetToDefault() {
  ParamValue value;
  for (int i = 0; i < dimension_; ++i) value.numbers.push_back(NumberOf(properties_, kOfxParamPropDefault, i).value_or(0));
  const Property* found = properties_.Lookup(kOfxParamPropDefault);
  if (found && !found->values.empty()) {
    if (auto* text = std::get_if<std::string>(&found->values[0])) value.text = *text;
  }
  keys_.clear();
  value_ = std::move(value);
  holds_default_ = true;
}

void Param::PlaceDefault(const ProjectFrame& project) {
  const SpatialType* spatial = SpatialTypeOf(properties_);
  const Property* system = properties_.Lookup(kOfxParamPropDefaultCoordinateSystem);
  const bool normalised = system && !system->values.empty() &&
                          system->values[0] == PropertyValue(std::string(kOfxParamCoordinatesNormalised));
  if (!holds_default_ || !spatial || spatial->fractions || !normalised || kind_ != ValueKind::kDouble) return;
  ResetToDefault();
  for (size_t i = 0; i < value_.numbers.size(); ++i) value_.numbers[i] = Placed(*spatial, i, value_.numbers[i], project);
}

ParamValue Param::FromCanonical(ParamValue canonical, const ProjectFrame& project) const {
  const SpatialType* spatial = SpatialTypeOf(properties_);
  if (!HoldsFractions()) return canonical;
  for (size_t i = 0; i < canonical.numbers.size(); ++i) {
    const double origin = Placed(*spatial, i, 0, project), unit = Placed(*spatial, i, 1, project) - origin;
    canonical.numbers[i] = unit != 0 ? (canonical.numbers[i] - origin) / unit : 0;
  }
  return canonical;
}

bool Param::HoldsFractions() const {
  const SpatialType* spatial = SpatialTypeOf(properties_);
  return spatial && spatial->fractions;
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
  holds_default_ = false;
  value_ = from.value_;
  if (!range) keys_.clear();
  for (const auto& [time, value] : from.keys_) {
    if (!range || (time >= range->min && time <= range->max)) keys_[time + offset] = value;
  }
  return kOfxStatOK;
}

ParamSet::ParamSet(Host& host, bool descriptor)
    : host_(host),
      descriptor_(descriptor),
      properties_("param set"),
      self_registration_(this, HandleKind::kParamSet, host),
      properties_registration_(&properties_, HandleKind::kPropertySet, host) {
  AddStandardProperties(properties_, kParamSetObject);
}

OfxStatus ParamSet::Define(std::string_view type, std::string_view name, Param** param) {
  if (!descriptor_) return kOfxStatErrUnsupported;
  const ParamTypeInfo* info = InfoOf(type);
  if (!info) return kOfxStatErrUnknown;
  if (Find(name)) return kOfxStatErrExists;
  params_.push_back(std::make_unique<Param>(host_, *this, std::string(name), std::string(type),
                                            DefinitionDefaults(type, name)));
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

void ParamSet::PlaceDefaults(const ProjectFrame& project) {
  for (auto& param : params_) param->PlaceDefault(project);
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
