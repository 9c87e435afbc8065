#include "property_set.h"

#include <charconv>

#include "status.h"

namespace lenstrove::host {

namespace {

PropertyType TypeOf(const PropertyValue& value) { return static_cast<PropertyType>(value.index()); }

PropertyValue ZeroOf(PropertyType type) {
  switch (type) {
    case PropertyType::kPointer: return static_cast<void*>(nullptr);
    case PropertyType::kString: return std::string();
    case PropertyType::kDouble: return 0.0;
    case PropertyType::kInt: return 0;
  }
  return 0;
}

std::string DoubleText(double value) {
  char text[32];
  auto end = std::to_chars(text, text + sizeof text, value).ptr;
  return std::string(text, end);
}

}  // namespace

const char* PropertyTypeName(PropertyType type) {
  switch (type) {
    case PropertyType::kPointer: return "pointer";
    case PropertyType::kString: return "string";
    case PropertyType::kDouble: return "double";
    case PropertyType::kInt: return "int";
  }
  return "?";
}

std::string ValueText(const PropertyValue& value) {
  switch (TypeOf(value)) {
    case PropertyType::kPointer: return std::get<void*>(value) ? "ptr" : "null";
    case PropertyType::kString: return '"' + std::get<std::string>(value) + '"';
    case PropertyType::kDouble: return DoubleText(std::get<double>(value));
    case PropertyType::kInt: return std::to_string(std::get<int>(value));
  }
  return "?";
}

OfxStatus PropertySet::Set(std::string_view name, int index, PropertyValue value) {
  if (index < 0 || index >= kMaxDimension) return kOfxStatErrBadIndex;
  PropertyType type = TypeOf(value);
  Property* property = FindProperty(name);
  if (!property) {
    std::vector<PropertyValue> values(index + 1, ZeroOf(type));
    values[index] = std::move(value);
    properties_.emplace_back(std::string(name), Property{type, values, values});
    return kOfxStatOK;
  }
  if (property->type != type) return kOfxStatErrValue;
  auto& values = property->values;
  if (static_cast<size_t>(index) >= values.size()) values.resize(index + 1, ZeroOf(type));
  values[index] = std::move(value);
  return kOfxStatOK;
}

OfxStatus PropertySet::SetN(std::string_view name, PropertyType type, std::vector<PropertyValue> values) {
  if (values.size() > static_cast<size_t>(kMaxDimension)) return kOfxStatErrBadIndex;
  for (const auto& value : values) {
    if (TypeOf(value) != type) return kOfxStatErrValue;
  }
  Property* property = FindProperty(name);
  if (property && property->type != type) return kOfxStatErrValue;
  if (!property) {
    properties_.emplace_back(std::string(name), Property{type, values, values});
    return kOfxStatOK;
  }
  property->values = std::move(values);
  return kOfxStatOK;
}

OfxStatus PropertySet::Find(std::string_view name, int index, PropertyType type,
                            const PropertyValue** value) const {
  const Property* property = Lookup(name);
  if (!property) return kOfxStatErrUnknown;
  if (property->type != type) return kOfxStatErrValue;
  if (index < 0 || static_cast<size_t>(index) >= property->values.size()) return kOfxStatErrBadIndex;
  *value = &property->values[index];
  return kOfxStatOK;
}

OfxStatus PropertySet::Reset(std::string_view name) {
  Property* property = FindProperty(name);
  if (!property) return kOfxStatErrUnknown;
  property->values = property->initial;
  return kOfxStatOK;
}

const Property* PropertySet::Lookup(std::string_view name) const {
  for (const auto& [key, property] : properties_) {
    if (key == name) return &property;
  }
  return nullptr;
}

Property* PropertySet::FindProperty(std::string_view name) { return const_cast<Property*>(Lookup(name)); }

void PropertySet::Erase(std::string_view name) {
  for (auto it = properties_.begin(); it != properties_.end(); ++it) {
    if (it->first == name) {
      properties_.erase(it);
      return;
    }
  }
}

std::vector<std::string> PropertySet::Names() const {
  std::vector<std::string> names;
  names.reserve(properties_.size());
  for (const auto& entry : properties_) names.push_back(entry.first);
  return names;
}

const Property& PropertySet::At(std::string_view name) const {
  const Property* property = Lookup(name);
  if (!property) throw HostError(label_ + ": no property " + std::string(name));
  return *property;
}

const PropertyValue& PropertySet::Typed(std::string_view name, int index, PropertyType type) const {
  const Property& property = At(name);
  if (property.type != type) {
    throw HostError(label_ + ": property " + std::string(name) + " is a " + PropertyTypeName(property.type) +
                    ", not a " + PropertyTypeName(type));
  }
  if (index < 0 || static_cast<size_t>(index) >= property.values.size()) {
    throw HostError(label_ + ": property " + std::string(name) + " has no index " + std::to_string(index));
  }
  return property.values[index];
}

void* PropertySet::GetPointer(std::string_view name, int index) const {
  return std::get<void*>(Typed(name, index, PropertyType::kPointer));
}

std::string PropertySet::GetString(std::string_view name, int index) const {
  return std::get<std::string>(Typed(name, index, PropertyType::kString));
}

double PropertySet::GetDouble(std::string_view name, int index) const {
  return std::get<double>(Typed(name, index, PropertyType::kDouble));
}

int PropertySet::GetInt(std::string_view name, int index) const {
  return std::get<int>(Typed(name, index, PropertyType::kInt));
}

std::string PropertySet::ToString(std::string_view name) const {
  std::string text = std::string(name) + " =";
  const char* separator = " ";
  for (const auto& value : At(name).values) {
    text += separator + ValueText(value);
    separator = ", ";
  }
  return text;
}

}  // namespace lenstrove::host
