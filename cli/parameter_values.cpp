#include "parameter_values.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <sstream>
#include <stdexcept>

#include "text.h"

namespace lenstrove::cli {
namespace {

// What the command knows of each type: its name in tables and sentences,
// how many numbers its value holds, and the form to type them in.
struct TypeFacts {
  ParameterType type;
  const char* word;
  const char* phrase;  // "parameter 'X' is ..."
  int numbers;
  bool whole;
  const char* form;
};

constexpr TypeFacts kTypes[] = {
    {ParameterType::Boolean, "boolean", "a boolean", 1, true, "on/off, true/false, yes/no or 1/0"},
    {ParameterType::Integer, "integer", "an integer", 1, true, "a whole number"},
    {ParameterType::Double, "double", "a double", 1, false, "a number"},
    {ParameterType::Choice, "choice", "a choice", 1, true, ""},
    {ParameterType::String, "string", "a string", 0, false, "text"},
    {ParameterType::Group, "group", "a group", 0, false, ""},
    {ParameterType::Page, "page", "a page", 0, false, ""},
    {ParameterType::Other, "other", "of a type this command cannot set", 0, false, ""},
    {ParameterType::Integer2D, "2D integer", "a 2D integer", 2, true, "X,Y (two whole numbers)"},
    {ParameterType::Integer3D, "3D integer", "a 3D integer", 3, true, "X,Y,Z (three whole numbers)"},
    {ParameterType::Double2D, "2D double", "a 2D double", 2, false, "X,Y (two numbers)"},
    {ParameterType::Double3D, "3D double", "a 3D double", 3, false, "X,Y,Z (three numbers)"},
    {ParameterType::RGB, "RGB colour", "an RGB colour", 3, false, "R,G,B (three numbers)"},
    {ParameterType::RGBA, "RGBA colour", "an RGBA colour", 4, false, "R,G,B or R,G,B,A (three or four numbers)"},
    {ParameterType::Custom, "custom", "a custom value", 0, false, "text"},
    {ParameterType::PushButton, "push button", "a push button", 0, false, ""},
};

const TypeFacts& FactsOf(ParameterType type) {
  for (const TypeFacts& facts : kTypes)
    if (facts.type == type) return facts;
  return kTypes[7];  // Other
}

bool IsText(ParameterType type) { return type == ParameterType::String || type == ParameterType::Custom; }
bool HoldsValue(ParameterType type) { return NumbersOf(type) > 0 || IsText(type); }

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

const ParameterInfo& FindParameter(const std::string& name, const std::vector<ParameterInfo>& declared) {
  for (const ParameterInfo& p : declared) {
    if (p.name != name) continue;
    if (p.type == ParameterType::Other)
      throw std::runtime_error("parameter '" + name + "' is of a type this command cannot set (" + p.typeName + ")");
    if (!HoldsValue(p.type))
      throw std::runtime_error("parameter '" + name + "' is " + FactsOf(p.type).phrase + " and holds no value");
    return p;
  }
  throw std::runtime_error("unknown parameter '" + name + "' (the plug-in has: " + KnownNames(declared) + ")");
}

[[noreturn]] void WrongShape(const ParameterInfo& p, const std::string& text, const std::string& form) {
  throw std::runtime_error("parameter '" + p.name + "' is " + FactsOf(p.type).phrase + ": '" + text + "' is not " +
                           form);
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::stringstream stream(text);
  for (std::string piece; std::getline(stream, piece, separator);) pieces.push_back(piece);
  if (!text.empty() && text.back() == separator) pieces.emplace_back();
  return pieces;
}

std::string ChoiceForm(const ParameterInfo& p) {
  return "an option's number (0 to " + std::to_string(static_cast<long>(p.options.size()) - 1) + ") or label (" +
         Joined(p.options, ", ") + ")";
}

// By number first, as scripts have always given choices; then by label,
// exactly or, when only one option matches, in any letter case.
double ParseChoice(const ParameterInfo& p, const std::string& text) {
  if (const std::optional<long> number = ParseInteger(text)) return static_cast<double>(*number);
  const auto lower = [](std::string word) {
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return word;
  };
  std::vector<std::size_t> loose;
  for (std::size_t i = 0; i < p.options.size(); ++i) {
    if (p.options[i] == text) return static_cast<double>(i);
    if (lower(p.options[i]) == lower(text)) loose.push_back(i);
  }
  if (loose.size() == 1) return static_cast<double>(loose[0]);
  WrongShape(p, text, ChoiceForm(p));
}

ResolvedValue ParseValue(const ParameterInfo& p, const std::string& text) {
  const TypeFacts& facts = FactsOf(p.type);
  if (IsText(p.type)) return {{}, text};
  if (p.type == ParameterType::Boolean) {
    if (std::optional<bool> on = ParseSwitch(text)) return {{*on ? 1.0 : 0.0}, ""};
    WrongShape(p, text, facts.form);
  }
  if (p.type == ParameterType::Choice) return {{ParseChoice(p, text)}, ""};
  const std::vector<std::string> pieces = Split(text, ',');
  const bool opaqueColour = p.type == ParameterType::RGBA && pieces.size() == 3;
  if (static_cast<int>(pieces.size()) != facts.numbers && !opaqueColour) WrongShape(p, text, facts.form);
  ResolvedValue value;
  for (const std::string& piece : pieces) {
    const std::optional<double> number =
        facts.whole ? std::optional<double>(ParseInteger(piece)) : ParseDouble(piece);
    if (!number) WrongShape(p, text, facts.form);
    value.numbers.push_back(*number);
  }
  if (opaqueColour) value.numbers.push_back(1.0);
  return value;
}

// "lo1,lo2..hi1,hi2": a limit not declared shows as the value's own number.
std::string RangeText(const ParameterInfo& p, const std::vector<double>& numbers) {
  std::string low, high;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const double lo = i < p.minimum.size() && std::isfinite(p.minimum[i]) ? p.minimum[i] : numbers[i];
    const double hi = i < p.maximum.size() && std::isfinite(p.maximum[i]) ? p.maximum[i] : numbers[i];
    low += (i ? "," : "") + FormatNumber(lo);
    high += (i ? "," : "") + FormatNumber(hi);
  }
  return low + ".." + high;
}

// A value outside the declared range is brought into it, and the user is
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

// The older form of keys, NAME=T:V,T:V,..., kept for one-number doubles.
std::vector<ResolvedKey> ParseTimeValuePairs(const ParameterInfo& p, const std::string& text) {
  std::vector<ResolvedKey> keys;
  for (const std::string& pair : Split(text, ',')) {
    const std::size_t colon = pair.find(':');
    const std::optional<double> time = ParseDouble(pair.substr(0, colon));
    const std::optional<double> value =
        colon == std::string::npos ? std::nullopt : ParseDouble(pair.substr(colon + 1));
    if (!time || !value) throw std::runtime_error("keyframe '" + pair + "' of parameter '" + p.name + "' is not TIME:VALUE");
    keys.push_back({*time, {{*value}, ""}});
  }
  return keys;
}

bool LooksLikeTimeValuePairs(const ParameterInfo& p, const ParameterSetting& setting) {
  return !setting.isKey() && !IsText(p.type) && p.type != ParameterType::Choice &&
         setting.value.find(':') != std::string::npos;
}

// Adds the setting's value or keys to what is resolved for its parameter.
void Resolve(const ParameterInfo& p, const ParameterSetting& setting, ResolvedSetting& resolved, bool first,
             std::vector<std::string>& warnings) {
  if (!setting.isKey() && !LooksLikeTimeValuePairs(p, setting)) {
    if (!first)
      throw std::runtime_error("parameter '" + p.name + "' " + (resolved.keys.empty() ? "is set twice" : "is given a value and keys"));
    if (setting.value.empty() && !IsText(p.type))
      throw std::runtime_error("parameter '" + p.name + "' is given no value");
    resolved.value = Clamp(p, ParseValue(p, setting.value), warnings);
    return;
  }
  if (!first && resolved.keys.empty()) throw std::runtime_error("parameter '" + p.name + "' is given a value and keys");
  if (!setting.isKey() && p.type != ParameterType::Double)
    throw std::runtime_error("parameter '" + p.name + "' is " + FactsOf(p.type).phrase +
                             ": only doubles take keyframes as T:V; give each key as " + p.name + "@TIME=VALUE");
  if (!p.animates) throw std::runtime_error("parameter '" + p.name + "' does not animate, so it takes no keys");
  std::vector<ResolvedKey> keys = setting.isKey() ? std::vector<ResolvedKey>{{*setting.time, ParseValue(p, setting.value)}}
                                                  : ParseTimeValuePairs(p, setting.value);
  for (ResolvedKey& key : keys) {
    for (const ResolvedKey& other : resolved.keys)
      if (other.time == key.time)
        throw std::runtime_error("parameter '" + p.name + "' has two keys at time " + FormatNumber(key.time));
    key.value = Clamp(p, key.value, warnings);
    resolved.keys.push_back(key);
  }
  std::sort(resolved.keys.begin(), resolved.keys.end(), [](const ResolvedKey& a, const ResolvedKey& b) { return a.time < b.time; });
}

}  // namespace

const char* TypeWord(ParameterType type) { return FactsOf(type).word; }

int NumbersOf(ParameterType type) { return FactsOf(type).numbers; }

std::string ValueText(ParameterType type, const ResolvedValue& value) {
  if (IsText(type)) return value.text;
  if (type == ParameterType::Boolean) return !value.numbers.empty() && value.numbers[0] != 0.0 ? "on" : "off";
  std::string text;
  for (std::size_t i = 0; i < value.numbers.size(); ++i) text += (i ? "," : "") + FormatNumber(value.numbers[i]);
  return text;
}

std::string SettingText(const ResolvedSetting& setting) {
  if (setting.keys.empty()) return setting.name + "=" + ValueText(setting.type, setting.value);
  std::string text;
  for (const ResolvedKey& key : setting.keys)
    text += (text.empty() ? "" : " ") + setting.name + "@" + FormatNumber(key.time) + "=" + ValueText(setting.type, key.value);
  return text;
}

ResolvedSettings ResolveSettings(const std::vector<ParameterSetting>& settings,
                                 const std::vector<ParameterInfo>& declared) {
  ResolvedSettings resolved;
  for (const ParameterSetting& setting : settings) {
    const ParameterInfo& p = FindParameter(setting.name, declared);
    auto found = std::find_if(resolved.settings.begin(), resolved.settings.end(),
                              [&](const ResolvedSetting& r) { return r.name == p.name; });
    const bool first = found == resolved.settings.end();
    if (first) found = resolved.settings.insert(resolved.settings.end(), ResolvedSetting{p.name, p.type, {}, {}});
    Resolve(p, setting, *found, first, resolved.warnings);
  }
  return resolved;
}

}  // namespace lenstrove::cli
