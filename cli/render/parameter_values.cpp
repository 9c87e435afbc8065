#include "render/parameter_values.h"

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "interface/text.h"

namespace lenstrove::cli {
namespace {

// How each type's value is typed on the command line, for messages.
struct TypedForm {
  ParameterType type;
  const char* form;
};

constexpr TypedForm kForms[] = {
    {ParameterType::Boolean, "on/off, true/false, yes/no or 1/0"},
    {ParameterType::Integer, "a whole number"},
    {ParameterType::Double, "a number"},
    {ParameterType::Integer2D, "X,Y (two whole numbers)"},
    {ParameterType::Integer3D, "X,Y,Z (three whole numbers)"},
    {ParameterType::Double2D, "X,Y (two numbers)"},
    {ParameterType::Double3D, "X,Y,Z (three numbers)"},
    {ParameterType::RGB, "R,G,B (three numbers)"},
    {ParameterType::RGBA, "R,G,B or R,G,B,A (three or four numbers)"},
};

[[noreturn]] void WrongShape(const ParameterInfo& p, const std::string& text) {
  const char* form = "";
  for (const TypedForm& typed : kForms)
    if (typed.type == p.type) form = typed.form;
  throw std::runtime_error("parameter '" + p.name + "' is " + session::TypePhrase(p.type) + ": '" + text +
                           "' is not " + form);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::stringstream stream(text);
  for (std::string piece; std::getline(stream, piece, separator);) pieces.push_back(piece);
  if (!text.empty() && text.back() == separator) pieces.emplace_back();
  return pieces;
}

// The value as the session takes it. A choice goes by number first, as
// scripts have always given choices, then by label, which the session
// looks up.
session::Value ParseValue(const ParameterInfo& p, const std::string& text) {
  if (session::HoldsText(p.type)) return text;
  if (p.type == ParameterType::Boolean) {
    if (std::optional<bool> on = ParseSwitch(text)) return *on;
    WrongShape(p, text);
  }
  if (p.type == ParameterType::Choice) {
    if (const std::optional<long> number = ParseInteger(text)) return *number;
    return text;
  }
  const std::vector<std::string> pieces = Split(text, ',');
  const bool opaqueColour = p.type == ParameterType::RGBA && pieces.size() == 3;
  if (static_cast<int>(pieces.size()) != NumbersOf(p.type) && !opaqueColour) WrongShape(p, text);
  std::vector<double> numbers;
  for (const std::string& piece : pieces) {
    const std::optional<double> number = session::HoldsWholeNumbers(p.type) ? std::optional<double>(ParseInteger(piece))
                                                                             : ParseDouble(piece);
    if (!number) WrongShape(p, text);
    numbers.push_back(*number);
  }
  return numbers.size() == 1 ? session::Value(numbers[0]) : session::Value(numbers);
}

// The older form of keys, NAME=T:V,T:V,..., kept for one-number doubles.
std::vector<std::pair<double, session::Value>> ParseTimeValuePairs(const ParameterInfo& p, const std::string& text) {
  std::vector<std::pair<double, session::Value>> keys;
  for (const std::string& pair : Split(text, ',')) {
    const std::size_t colon = pair.find(':');
    const std::optional<double> time = ParseDouble(pair.substr(0, colon));
    const std::optional<double> value =
        colon == std::string::npos ? std::nullopt : ParseDouble(pair.substr(colon + 1));
    if (!time || !value) throw std::runtime_error("keyframe '" + pair + "' of parameter '" + p.name + "' is not TIME:VALUE");
    keys.emplace_back(*time, *value);
  }
  return keys;
}

bool LooksLikeTimeValuePairs(const ParameterInfo& p, const ParameterSetting& setting) {
  return !setting.isKey() && !session::HoldsText(p.type) && p.type != ParameterType::Choice &&
         setting.value.find(':') != std::string::npos;
}

// Adds the setting's value or keys to what is resolved for its parameter.
void Resolve(const ParameterInfo& p, const ParameterSetting& setting, ResolvedSetting& resolved, bool first,
             std::vector<std::string>& warnings) {
  if (!setting.isKey() && !LooksLikeTimeValuePairs(p, setting)) {
    if (!first)
      throw std::runtime_error("parameter '" + p.name + "' " + (resolved.keys.empty() ? "is set twice" : "is given a value and keys"));
    if (setting.value.empty() && !session::HoldsText(p.type))
      throw std::runtime_error("parameter '" + p.name + "' is given no value");
    resolved.value = session::ResolveValue(p, ParseValue(p, setting.value), warnings);
    return;
  }
  if (!first && resolved.keys.empty()) throw std::runtime_error("parameter '" + p.name + "' is given a value and keys");
  if (!setting.isKey() && p.type != ParameterType::Double)
    throw std::runtime_error("parameter '" + p.name + "' is " + session::TypePhrase(p.type) +
                             ": only doubles take keyframes as T:V; give each key as " + p.name + "@TIME=VALUE");
  session::CheckAnimates(p);
  const std::vector<std::pair<double, session::Value>> keys =
      setting.isKey() ? std::vector<std::pair<double, session::Value>>{{*setting.time, ParseValue(p, setting.value)}}
                      : ParseTimeValuePairs(p, setting.value);
  for (const auto& [time, value] : keys) {
    for (const ResolvedKey& other : resolved.keys)
      if (other.time == time)
        throw std::runtime_error("parameter '" + p.name + "' has two keys at time " + FormatNumber(time));
    resolved.keys.push_back({time, session::ResolveValue(p, value, warnings)});
  }
  std::sort(resolved.keys.begin(), resolved.keys.end(), [](const ResolvedKey& a, const ResolvedKey& b) { return a.time < b.time; });
}

}  // namespace

ResolvedSettings ResolveSettings(const std::vector<ParameterSetting>& settings,
                                 const std::vector<ParameterInfo>& declared) {
  ResolvedSettings resolved;
  for (const ParameterSetting& setting : settings) {
    const ParameterInfo& p = session::FindSettable(declared, setting.name, "this command");
    auto found = std::find_if(resolved.settings.begin(), resolved.settings.end(),
                              [&](const ResolvedSetting& r) { return r.name == p.name; });
    const bool first = found == resolved.settings.end();
    if (first) found = resolved.settings.insert(resolved.settings.end(), ResolvedSetting{p.name, p.type, {}, {}});
    Resolve(p, setting, *found, first, resolved.warnings);
  }
  return resolved;
}

}  // namespace lenstrove::cli
