#ifndef LENSTROVE_SESSION_VALUES_H
#define LENSTROVE_SESSION_VALUES_H

// Parameter values as a caller gives them, checked against what the
// plug-in declared: the name must exist and hold a value, the value must
// have the type and shape the parameter takes, numbers outside the
// declared range are clamped with a warning (as editing applications do),
// and keys need a parameter that animates.
//
// What each type takes: a switch true or false (or the whole numbers 0 and
// 1); an integer a whole number; a double any number; a choice an option's
// number or label (exactly, or in any letter case when only one option
// matches); 2D and 3D values, colours, two, three or four numbers (RGBA
// takes three as opaque); strings and custom values text.

#include <initializer_list>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "session/description.h"

namespace lenstrove::session {

class Value {
 public:
  using Numbers = std::vector<double>;
  using Variant = std::variant<bool, long long, double, Numbers, std::string>;

  Value(bool on) : held_(on) {}
  Value(int number) : held_(static_cast<long long>(number)) {}
  Value(long number) : held_(static_cast<long long>(number)) {}
  Value(long long number) : held_(number) {}
  Value(double number) : held_(number) {}
  Value(std::initializer_list<double> numbers) : held_(Numbers(numbers)) {}
  Value(Numbers numbers) : held_(std::move(numbers)) {}
  Value(std::string text) : held_(std::move(text)) {}
  // Without it a string literal would become a bool.
  Value(const char* text) : held_(std::string(text)) {}

  const Variant& Get() const { return held_; }

 private:
  Variant held_;
};

// Keys of one parameter: its value at each time, linear in between for
// numbers and colours, held until the next key for the rest.
using Keys = std::map<double, Value>;

// A value ready for the host: one number per dimension, or text.
struct ResolvedValue {
  std::vector<double> numbers;  // booleans 0/1, choices the option's number
  std::string text;             // strings and custom values
};

struct ResolvedKey {
  double time;
  ResolvedValue value;
};

// A setting ready for an instance: one value, or keys in time order,
// already clamped to the declared range.
struct ResolvedSetting {
  std::string name;
  ParameterType type = ParameterType::Double;
  ResolvedValue value;  // when there are no keys
  std::vector<ResolvedKey> keys;
  // The first number of the value, for switches and single numbers.
  double number() const { return value.numbers.empty() ? 0.0 : value.numbers[0]; }
};

// The declared parameter called `name`, when a caller can give it a value.
// Throws Error naming it: unknown (listing the names that can be set),
// holding no value, or of a type `self` (how messages name the caller,
// "this host") cannot set.
const ParameterInfo& FindSettable(const std::vector<ParameterInfo>& declared, const std::string& name,
                                  const std::string& self = "this host");

// Throws Error unless the parameter animates and so takes keys.
void CheckAnimates(const ParameterInfo& parameter);

// `value` as the parameter holds it, clamped into its declared range with
// a warning added for each value clamped ("warning: Gain=9 is outside its
// range 0..4; using 4"). Throws Error naming the parameter when the value
// is of the wrong type or shape.
ResolvedValue ResolveValue(const ParameterInfo& parameter, const Value& value, std::vector<std::string>& warnings);

// A constant value, or keys, for the parameter called `name`.
ResolvedSetting ResolveSetting(const std::vector<ParameterInfo>& declared, const std::string& name, const Value& value,
                               std::vector<std::string>& warnings, const std::string& self = "this host");
ResolvedSetting ResolveKeys(const std::vector<ParameterInfo>& declared, const std::string& name, const Keys& keys,
                            std::vector<std::string>& warnings, const std::string& self = "this host");

// A number as a person would type it: 0.5, 15, 0.12 (the shortest form
// that reads back the same).
std::string NumberText(double value);
// A value as typed after NAME=: "on", "0.5", "4,3", "text".
std::string ValueText(ParameterType type, const ResolvedValue& value);
// "NAME=VALUE", or "NAME@T=VALUE" for each key: how to give the setting
// on the command line again.
std::string SettingText(const ResolvedSetting& setting);

}  // namespace lenstrove::session

#endif
