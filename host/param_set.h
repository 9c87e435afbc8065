#ifndef LENSTROVE_HOST_PARAM_SET_H
#define LENSTROVE_HOST_PARAM_SET_H

// Parameters and parameter sets. A descriptor's set holds the definitions a
// plug-in declares; an instance's set starts as a copy of them, each
// parameter at its default, and holds the values.
//
// Values: every numeric type holds one number per dimension (integers,
// booleans and choices too), strings and custom parameters a string. A value
// is constant until it gets keys; with keys, doubles (1D to 3D, RGB, RGBA) are
// linear between two keys, integers the same rounded to the nearest, and
// booleans, choices, strings and custom parameters hold the value of the last
// key at or before the time. Before the first key and after the last the end
// key's value holds:  v0 + (v1 - v0) * ((t - t0) / (t1 - t0)).
// Setting a number clamps each dimension to its OfxParamPropMin/Max.

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

// A parameter's value at one time: `numbers` has one entry per dimension
// for numeric types, `text` is used by strings and custom parameters.
struct ParamValue {
  std::vector<double> numbers;
  std::string text;
  bool operator==(const ParamValue& other) const { return numbers == other.numbers && text == other.text; }
};

// The project a render happens in, in canonical coordinates (pixels at
// full scale): its size and where it starts. Spatial parameters whose
// values or defaults are fractions of the project are placed in it.
struct ProjectFrame {
  double width = 0, height = 0;
  double x = 0, y = 0;
};

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

  // 1 for scalars, 2 or 3 for the 2D and 3D types, 3 for RGB, 4 for RGBA;
  // 0 for strings and types without a value.
  int Dimension() const { return dimension_; }

  ParamValue ValueAt(OfxTime time) const;
  // The first dimension, for the scalar types.
  double DoubleAt(OfxTime time) const { return NumberAt(time, 0); }
  double NumberAt(OfxTime time, int dimension) const;
  // Of a double type's dimension.
  double DerivativeAt(OfxTime time, int dimension = 0) const;
  double IntegralOver(OfxTime from, OfxTime to, int dimension = 0) const;
  // At the owner's current time.
  int IntValue() const;
  const std::string& StringValue() const;
  const std::string& StringAt(OfxTime time) const;

  // The setters return true when they had to clamp the value.
  // SetValue makes the value constant, dropping any keys; missing
  // dimensions are 0.
  bool SetValue(ParamValue value);
  // Adds or replaces the key at `time`; a parameter that does not animate
  // takes the value as its constant instead.
  bool SetValueAt(OfxTime time, ParamValue value);
  // The first dimension, keeping the others.
  bool SetDouble(double value);
  bool SetDoubleAt(OfxTime time, double value);
  bool SetInt(int value);
  void SetString(std::string value);
  // Back to OfxParamPropDefault, without keys.
  void ResetToDefault();
  // True while the parameter holds its default: nothing has set it since.
  bool HoldsDefault() const { return holds_default_; }
  // A spatial default declared in normalised coordinates
  // (OfxParamPropDefaultCoordinateSystem) becomes that place in `project`,
  // as long as the parameter still holds its default.
  void PlaceDefault(const ProjectFrame& project);
  // A value given in canonical coordinates, as the parameter stores it:
  // the fractions of `project` for the older normalised double types,
  // whose plug-ins read fractions; unchanged for every other type.
  ParamValue FromCanonical(ParamValue canonical, const ProjectFrame& project) const;
  // True for those older normalised kinds.
  bool HoldsFractions() const;

  const std::map<OfxTime, ParamValue>& Keys() const { return keys_; }
  // Index of the key at `time` (direction 0), the last key before it
  // (direction < 0) or the first key after it (direction > 0); -1 if none.
  int KeyIndex(OfxTime time, int direction) const;
  bool DeleteKey(OfxTime time) { return keys_.erase(time) > 0; }
  void DeleteAllKeys() { keys_.clear(); }
  // Takes `from`'s value and its keys shifted by `offset`; with a range,
  // only the keys inside it are added. kOfxStatErrValue for another type.
  OfxStatus CopyFrom(const Param& from, OfxTime offset, const OfxRangeD* range);

 private:
  bool Clamp(ParamValue* value) const;
  bool Animates() const;
  ParamValue Between(const ParamValue& before, const ParamValue& after, double fraction) const;

  ParamSet& owner_;
  std::string name_;
  std::string type_;
  ValueKind kind_;
  int dimension_;
  bool stepped_;  // holds each key's value until the next
  bool rounded_;  // integers
  PropertySet properties_;
  ParamValue value_;
  std::map<OfxTime, ParamValue> keys_;
  bool holds_default_ = false;
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
  // Places every normalised default that nothing has changed in `project`.
  void PlaceDefaults(const ProjectFrame& project);

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
