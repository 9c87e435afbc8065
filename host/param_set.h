#ifndef LENSTROVE_HOST_PARAM_SET_H
#define LENSTROVE_HOST_PARAM_SET_H

// Parameters and parameter sets. A descriptor's set holds the definitions a
// plug-in declares; an instance's set starts as a copy of them, each
// parameter at its default, and holds the values.
//
// Values: booleans, integers and choices hold one int and strings one string,
// whatever the time. A double holds a constant until it gets keys; with keys
// its value is linear between two keys and held before the first and after
// the last:  v0 + (v1 - v0) * ((t - t0) / (t1 - t0)).
// Setting a double or an integer clamps it to OfxParamPropMin/Max.

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "handles.h"
#include "ofx/ofxParam.h"
#include "property_set.h"

namespace lenstrove::host {

class ParamSet;

// What a parameter type stores; kNone for groups, pages and buttons.
enum class ValueKind { kNone, kInt, kDouble, kString };

class Param {
 public:
  Param(Host& host, ParamSet& owner, std::string name, std::string type, PropertySet properties);
  Param(const Param&) = delete;
  Param& operator=(const Param&) = delete;

  OfxParamHandle Handle() { return reinterpret_cast<OfxParamHandle>(this); }
  const std::string& Name() const { return name_; }
  const std::string& Type() const { return type_; }
  ValueKind Kind() const { return kind_; }
  ParamSet& Owner() const { return owner_; }
  PropertySet& Properties() { return properties_; }
  const PropertySet& Properties() const { return properties_; }

  double DoubleAt(OfxTime time) const;
  double DerivativeAt(OfxTime time) const;
  double IntegralOver(OfxTime from, OfxTime to) const;  // of a double
  int IntValue() const { return int_value_; }
  const std::string& StringValue() const { return string_value_; }

  // The setters return true when they had to clamp the value.
  // SetDouble makes the value constant, dropping any keys.
  bool SetDouble(double value);
  // Adds or replaces the key at `time`; a double that does not animate
  // takes the value as its constant instead.
  bool SetDoubleAt(OfxTime time, double value);
  bool SetInt(int value);
  void SetString(std::string value) { string_value_ = std::move(value); }
  // Back to OfxParamPropDefault, without keys.
  void ResetToDefault();

  const std::map<OfxTime, double>& Keys() const { return keys_; }
  // Index of the key at `time` (direction 0), the last key before it
  // (direction < 0) or the first key after it (direction > 0); -1 if none.
  int KeyIndex(OfxTime time, int direction) const;
  bool DeleteKey(OfxTime time) { return keys_.erase(time) > 0; }
  void DeleteAllKeys() { keys_.clear(); }
  // Takes `from`'s value and its keys shifted by `offset`; with a range,
  // only the keys inside it are added. kOfxStatErrValue for another type.
  OfxStatus CopyFrom(const Param& from, OfxTime offset, const OfxRangeD* range);

 private:
  template <class T>
  bool Clamp(T* value) const;

  ParamSet& owner_;
  std::string name_;
  std::string type_;
  ValueKind kind_;
  PropertySet properties_;
  double double_value_ = 0;
  int int_value_ = 0;
  std::string string_value_;
  std::map<OfxTime, double> keys_;
  Registration self_registration_;
  Registration properties_registration_;
};

class ParamSet {
 public:
  ParamSet(Host& host, bool descriptor);
  ParamSet(const ParamSet&) = delete;
  ParamSet& operator=(const ParamSet&) = delete;

  OfxParamSetHandle Handle() { return reinterpret_cast<OfxParamSetHandle>(this); }
  PropertySet& Properties() { return properties_; }
  bool IsDescriptor() const { return descriptor_; }

  // Statuses as paramDefine answers them: kOfxStatErrUnsupported on an
  // instance's set, kOfxStatErrExists for a taken name, kOfxStatErrUnknown
  // for a type this host does not have.
  OfxStatus Define(std::string_view type, std::string_view name, Param** param);
  // Gives an instance's set a copy of `definitions`, each at its default.
  void CopyDefinitions(const ParamSet& definitions);

  Param* Find(std::string_view name);
  Param& Get(std::string_view name);  // throws HostError when missing
  // In declaration order.
  const std::vector<std::unique_ptr<Param>>& Params() const { return params_; }

  // The host's current time, used by the calls that take none
  // (paramGetValue, paramSetValue). Render sets it to the frame's time.
  OfxTime Time() const { return time_; }
  void SetTime(OfxTime time) { time_ = time; }

  // paramEditBegin/End; nested or unmatched calls fail.
  OfxStatus BeginEdit(std::string_view name);
  OfxStatus EndEdit();
  bool Editing() const { return editing_; }
  const std::string& EditName() const { return edit_name_; }

 private:
  Host& host_;
  bool descriptor_;
  PropertySet properties_;
  std::vector<std::unique_ptr<Param>> params_;
  OfxTime time_ = 0;
  bool editing_ = false;
  std::string edit_name_;
  Registration self_registration_;
  Registration properties_registration_;
};

}  // namespace lenstrove::host

#endif
