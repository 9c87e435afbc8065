#include "session/values.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "session/error.h"

namespace lenstrove::session {
namespace {

// What the session knows of each type: its name in tables and sentences,
// how many numbers its value holds, whether they are whole, and what a
// value of it is, for messages.
struct TypeFacts {
  ParameterType type;
  const char* word;
  const char* phrase;  // "parameter 'X' is ..."
  int numbers;
  bool whole;
  const char* form;
};

constexpr TypeFacts kTypes[] = {
    {ParameterType::Boolean, "boolean", "a boolean", 1, true, "true or false"},
    {ParameterType::Integer, "integer", "an integer", 1, true, "a whole number"},
    {ParameterType::Double, "double", "a double", 1, false, "a number"},
    {ParameterType::Choice, "choice", "a choice", 1, true, ""},
    {ParameterType::String, "string", "a string", 0, false, "text"},
    {ParameterType::Group, "group", "a group", 0, false, ""},
    {ParameterType::Page, "page", "a page", 0, false, ""},
    {ParameterType::Other, "other", "of a type this host cannot set", 0, false, ""},
    {ParameterType::Integer2D, "2D integer", "a 2D integer", 2, true, "two whole numbers"},
    {ParameterType::Integer3D, "3D integer", "a 3D integer", 3, true, "three whole numbers"},
    {ParameterType::Double2D, "2D double", "a 2D double", 2, false, "two numbers"},
    {ParameterType::Double3D, "3D double", "a 3D double", 3, false, "three numbers"},
    {ParameterType::RGB, "RGB colour", "an RGB colour", 3, false, "three numbers"},
    {ParameterType::RGBA, "RGBA colour", "an RGBA colour", 4, false, "three or four numbers"},
    {ParameterType::Custom, "custom", "a custom value", 0, false, "text"},
    {ParameterType::PushButton, "push button", "a push button", 0, false, ""},
};

const TypeFacts& FactsOf(ParameterType type) {
  for (const TypeFacts& facts : kTypes)
    if (facts.type == type) return facts;
  return kTypes[7];  // Other
}

std::string Joined(const std::vector<std::string>& words, const char* separator) {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
  return text;
}

std::string KnownNames(const std::vector<ParameterInfo>& declared) {
  std::vector<std::string> names;
  for (const ParameterInfo& p : declared)
    if (HoldsValue(p.type)) names.push_back(p.name);
  return Joined(names, ", ");
}

// A value as a message shows it: true, 3, 0.5, (1, 2), 'text'.
std::string Shown(const Value& value) {
  const Value::Variant& held = value.Get();
  if (const bool* on = std::get_if<bool>(&held)) return *on ? "true" : "false";
  if (const long long* whole = std::get_if<long long>(&held)) return std::to_string(*whole);
  if (const double* number = std::get_if<double>(&held)) return NumberText(*number);
  if (const std::string* text = std::get_if<std::string>(&held)) return "'" + *text + "'";
  std::string numbers;
  for (double number : std::get<Value::Numbers>(held)) numbers += (numbers.empty() ? "" : ", ") + NumberText(number);
  return "(" + numbers + ")";
}

std::string ChoiceForm(const ParameterInfo& p) {
  return "an option's number (0 to " + std::to_string(static_cast<long>(p.options.size()) - 1) + ") or label (" +
         Joined(p.options, ", ") + ")";
}

[[noreturn]] void WrongValue(const ParameterInfo& p, const Value& value) {
  const std::string form = p.type == ParameterType::Choice ? ChoiceForm(p) : FactsOf(p.type).form;
  throw Error("parameter '" + p.name + "' is " + TypePhrase(p.type) + ": " + Shown(value) + " is not " + form);
}

// The numbers a value holds: one for a number, several for a tuple; none
// for a switch or text, which are no numbers.
std::vector<double> NumbersIn(const Value& value) {
  const Value::Variant& held = value.Get();
  if (const long long* whole = std::get_if<long long>(&held)) return {static_cast<double>(*whole)};
  if (const double* number = std::get_if<double>(&held)) return {*number};
  if (const Value::Numbers* numbers = std::get_if<Value::Numbers>(&held)) return *numbers;
  return {};
}

// An option by label, exactly or, when only one option matches, in any
// letter case.
std::optional<double> OptionNamed(const ParameterInfo& p, const std::string& label) {
  const auto lower = [](std::string word) {
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
  };
  std::vector<std::size_t> loose;
  for (std::size_t i = 0; i < p.options.size(); ++i) {
    if (p.options[i] == label) return static_cast<double>(i);
    if (lower(p.options[i]) == lower(label)) loose.push_back(i);
  }
  if (loose.size() == 1) return static_cast<double>(loose[0]);
  return std::nullopt;
}

// The value in the parameter's own shape, not yet clamped.
ResolvedValue Shaped(const ParameterInfo& p, const Value& value) {
  const Value::Variant& held = value.Get();
  if (HoldsText(p.type)) {
    if (const std::string* text = std::get_if<std::string>(&held)) return {{}, *text};
    WrongValue(p, value);
  }
  if (p.type == ParameterType::Boolean && std::holds_alternative<bool>(held)) return {{std::get<bool>(held) ? 1.0 : 0.0}, ""};
  if (p.type == ParameterType::Choice && std::holds_alternative<std::string>(held)) {
    if (const std::optional<double> option = OptionNamed(p, std::get<std::string>(held))) return {{*option}, ""};
    WrongValue(p, value);
  }
  ResolvedValue resolved{NumbersIn(value), ""};
  std::vector<double>& numbers = resolved.numbers;
  const TypeFacts& facts = FactsOf(p.type);
  const bool opaqueColour = p.type == ParameterType::RGBA && numbers.size() == 3;
  if (static_cast<int>(numbers.size()) != facts.numbers && !opaqueColour) WrongValue(p, value);
  for (double number : numbers)
    if (!std::isfinite(number) || (facts.whole && number != std::floor(number))) WrongValue(p, value);
  if (p.type == ParameterType::Boolean && numbers[0] != 0.0 && numbers[0] != 1.0) WrongValue(p, value);
  if (opaqueColour) numbers.push_back(1.0);
  return resolved;
}

// "lo1,lo2..hi1,hi2": a limit not declared shows as the value's own number.
std::string RangeText(const ParameterInfo& p, const std::vector<double>& numbers) {
  std::string low, high;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const double lo = i < p.minimum.size() && std::isfinite(p.minimum[i]) ? p.minimum[i] : numbers[i];
    const double hi = i < p.maximum.size() && std::isfinite(p.maximum[i]) ? p.maximum[i] : numbers[i];
    low += (i ? "," : "") + NumberText(lo);
    high += (i ? "," : "") + NumberText(hi);
  }
  return low + ".." + high;
}

// A value outside the declared range is brought into it, and the caller is
// told, rather than the render being refused.
ResolvedValue Clamp(const ParameterInfo& p, ResolvedValue value, std::vector<std::string>& warnings) {
  const ResolvedValue given = value;
  for (std::size_t i = 0; i < value.numbers.size(); ++i) {
    if (i < p.minimum.size()) value.numbers[i] = std::max(value.numbers[i], p.minimum[i]);
    if (i < p.maximum.size()) value.numbers[i] = std::min(value.numbers[i], p.maximum[i]);
  }
  if (value.numbers != given.numbers)
    warnings.push_back("warning: " + p.name + "=" + ValueText(p.type, given) + " is outside its range " +
                       RangeText(p, given.numbers) + "; using " + ValueText(p.type, value));
  return value;
}

}  // namespace

const char* TypeWord(ParameterType type) { return FactsOf(type).word; }
const char* TypePhrase(ParameterType type) { return FactsOf(type).phrase; }
int NumbersOf(ParameterType type) { return FactsOf(type).numbers; }
bool HoldsText(ParameterType type) { return type == ParameterType::String || type == ParameterType::Custom; }
bool HoldsWholeNumbers(ParameterType type) { return NumbersOf(type) > 0 && FactsOf(type).whole; }
bool HoldsValue(ParameterType type) { return NumbersOf(type) > 0 || HoldsText(type); }

const ParameterInfo& FindSettable(const std::vector<ParameterInfo>& declared, const std::string& name,
                                  const std::string& self) {
  for (const ParameterInfo& p : declared) {
    if (p.name != name) continue;
    if (p.type == ParameterType::Other)
      throw Error("parameter '" + name + "' is of a type " + self + " cannot set (" + p.typeName + ")");
    if (!HoldsValue(p.type)) throw Error("parameter '" + name + "' is " + TypePhrase(p.type) + " and holds no value");
    return p;
  }
  throw Error("unknown parameter '" + name + "' (the plug-in has: " + KnownNames(declared) + ")");
}

void CheckAnimates(const ParameterInfo& parameter) {
  if (!parameter.animates)
    throw Error("parameter '" + parameter.name + "' does not animate, so it takes no keys");
}

ResolvedValue ResolveValue(const ParameterInfo& parameter, const Value& value, std::vector<std::string>& warnings) {
  if (!HoldsValue(parameter.type)) WrongValue(parameter, value);
  return Clamp(parameter, Shaped(parameter, value), warnings);
}

ResolvedSetting ResolveSetting(const std::vector<ParameterInfo>& declared, const std::string& name, const Value& value,
                               std::vector<std::string>& warnings, const std::string& self) {
  const ParameterInfo& p = FindSettable(declared, name, self);
  return {p.name, p.type, ResolveValue(p, value, warnings), {}};
}

ResolvedSetting ResolveKeys(const std::vector<ParameterInfo>& declared, const std::string& name, const Keys& keys,
                            std::vector<std::string>& warnings, const std::string& self) {
  const ParameterInfo& p = FindSettable(declared, name, self);
  CheckAnimates(p);
  if (keys.empty()) throw Error("parameter '" + p.name + "' is given no keys");
  ResolvedSetting setting{p.name, p.type, {}, {}};
  for (const auto& [time, value] : keys) {
    if (!std::isfinite(time)) throw Error("parameter '" + p.name + "' has a key at a time that is not a number");
    setting.keys.push_back({time, ResolveValue(p, value, warnings)});
  }
  return setting;
}

std::string NumberText(double value) {
  char buffer[64];
  for (int precision = 6; precision <= 17; ++precision) {
    std::snprintf(buffer, sizeof buffer, "%.*g", precision, value);
    if (std::strtod(buffer, nullptr) == value) break;
  }
  return buffer;
}

std::string ValueText(ParameterType type, const ResolvedValue& value) {
  if (HoldsText(type)) return value.text;
  if (type == ParameterType::Boolean) return !value.numbers.empty() && value.numbers[0] != 0.0 ? "on" : "off";
  std::string text;
  for (std::size_t i = 0; i < value.numbers.size(); ++i) text += (i ? "," : "") + NumberText(value.numbers[i]);
  return text;
}

std::string SettingText(const ResolvedSetting& setting) {
  if (setting.keys.empty()) return setting.name + "=" + ValueText(setting.type, setting.value);
  std::string text;
  for (const ResolvedKey& key : setting.keys)
    text += (text.empty() ? "" : " ") + setting.name + "@" + NumberText(key.time) + "=" +
            ValueText(setting.type, key.value);
  return text;
}

}  // namespace lenstrove::session
