#ifndef LENSTROVE_HOST_PROPERTY_SET_H
#define LENSTROVE_HOST_PROPERTY_SET_H

// A named bag of typed, multi-valued properties: what the property suite
// works on. A property comes into being the first time it is set and keeps
// the type of that first value; its values always share that type.

#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "ofx/ofxCore.h"

namespace lenstrove::host {

// The order matches PropertyValue's alternatives.
enum class PropertyType { kPointer, kString, kDouble, kInt };

using PropertyValue = std::variant<void*, std::string, double, int>;

const char* PropertyTypeName(PropertyType type);
// A value as text for logs and listings: strings quoted, pointers as
// "null" or "ptr" so logs do not change from run to run.
std::string ValueText(const PropertyValue& value);

// No property in the interface holds more than a handful of values; an
// index beyond this is a plug-in bug, not a request for gigabytes.
constexpr int kMaxDimension = 4096;

struct Property {
  PropertyType type;
  std::vector<PropertyValue> values;
  // What propReset goes back to: the values the property was created with.
  std::vector<PropertyValue> initial;
};

class PropertySet {
 public:
  // The label names the set in the call log ("effect", "clip Source", ...).
  explicit PropertySet(std::string label = {}) : label_(std::move(label)) {}

  // What the plug-in holds; valid only while the set is registered.
  OfxPropertySetHandle Handle() { return reinterpret_cast<OfxPropertySetHandle>(this); }
  const std::string& Label() const { return label_; }
  void SetLabel(std::string label) { label_ = std::move(label); }

  // The operations the suite performs; they return its status codes.
  // Set at an index past the end grows the property, padding with zero
  // values. SetN replaces all values with `values`, which must be of `type`.
  // Indices from kMaxDimension on, and longer value lists, are bad indices.
  OfxStatus Set(std::string_view name, int index, PropertyValue value);
  OfxStatus SetN(std::string_view name, PropertyType type, std::vector<PropertyValue> values);
  // Points `*value` at the stored value; it stays valid until this property
  // is set again. On failure `*value` is left alone.
  OfxStatus Find(std::string_view name, int index, PropertyType type, const PropertyValue** value) const;
  OfxStatus Reset(std::string_view name);

  // Null when there is no such property.
  const Property* Lookup(std::string_view name) const;
  bool Has(std::string_view name) const { return Lookup(name) != nullptr; }
  void Erase(std::string_view name);
  // Names in the order the properties were created.
  std::vector<std::string> Names() const;

  // Conveniences for host code and tests; they throw HostError when the
  // property is missing, has another type or is too short.
  const Property& At(std::string_view name) const;
  void* GetPointer(std::string_view name, int index = 0) const;
  std::string GetString(std::string_view name, int index = 0) const;
  double GetDouble(std::string_view name, int index = 0) const;
  int GetInt(std::string_view name, int index = 0) const;
  int Dimension(std::string_view name) const { return static_cast<int>(At(name).values.size()); }
  // "name = v0, v1, ..." for listings.
  std::string ToString(std::string_view name) const;

 private:
  Property* FindProperty(std::string_view name);
  const PropertyValue& Typed(std::string_view name, int index, PropertyType type) const;

  std::string label_;
  // Sets hold a few dozen properties at most: a linear scan is as fast as
  // hashing at that size and keeps the creation order for listings.
  std::vector<std::pair<std::string, Property>> properties_;
};

}  // namespace lenstrove::host

#endif
