#include "parameter_values.h"

#include <algorithm>
#include <stdexcept>

#include "text.h"

namespace lenstrove::cli {
namespace {

bool IsValueType(ParameterType type) {
  return type == ParameterType::Boolean || type == ParameterType::Integer || type == ParameterType::Double ||
         type == ParameterType::Choice;
}

std::string KnownNames(const std::vector<ParameterInfo>& declared) {
  std::string names;
  for (const ParameterInfo& p : declared) {
    if (!IsValueType(p.type)) continue;
    names += names.empty() ? "" : ", ";
    names += p.name;
  }
  return names;
}

const ParameterInfo& FindParameter(const std::string& name, const std::vector<ParameterInfo>& declared) {
  for (const ParameterInfo& p : declared)
    if (p.name == name) {
      if (!IsValueType(p.type))
        throw std::runtime_error("parameter '" + name + "' is a " + TypeWord(p.type) + " and holds no value");
      return p;
    }
  throw std::runtime_error("unknown parameter '" + name + "' (the plug-in has: " + KnownNames(declared) + ")");
}

// A value outside the declared range is brought into it, and the user is
// told, rather than the render being refused.
double Clamp(const ParameterInfo& p, double value, std::vector<std::string>& warnings) {
  double clamped = value;
  if (p.minimum && clamped < *p.minimum) clamped = *p.minimum;
  if (p.maximum && clamped > *p.maximum) clamped = *p.maximum;
  if (clamped != value)
    warnings.push_back("warning: " + p.name + "=" + FormatNumber(value) + " is outside its range " +
                       FormatNumber(p.minimum.value_or(value)) + ".." + FormatNumber(p.maximum.value_or(value)) +
                       "; using " + FormatNumber(clamped));
  return clamped;
}

double ParseValue(const ParameterInfo& p, const std::string& text) {
  if (p.type == ParameterType::Boolean) {
    if (std::optional<bool> on = ParseSwitch(text)) return *on ? 1.0 : 0.0;
    throw std::runtime_error("parameter '" + p.name + "' is a boolean: '" + text +
                             "' is not on/off, true/false, yes/no or 1/0");
  }
  if (p.type == ParameterType::Integer) {
    if (std::optional<long> whole = ParseInteger(text)) return static_cast<double>(*whole);
    throw std::runtime_error("parameter '" + p.name + "' is an integer: '" + text + "' is not a whole number");
  }
  if (p.type == ParameterType::Choice) {
    if (std::optional<long> whole = ParseInteger(text)) return static_cast<double>(*whole);
    throw std::runtime_error("parameter '" + p.name + "' is a choice: '" + text + "' is not an option's number");
  }
  if (std::optional<double> number = ParseDouble(text)) return *number;
  throw std::runtime_error("parameter '" + p.name + "' is a double: '" + text + "' is not a number");
}

ResolvedSetting ResolveKeyframes(const ParameterInfo& p, const ParameterSetting& setting,
                                 std::vector<std::string>& warnings) {
  if (p.type != ParameterType::Double)
    throw std::runtime_error("parameter '" + p.name + "' is a " + TypeWord(p.type) +
                             ": only doubles take keyframes");
  if (!p.animates) throw std::runtime_error("parameter '" + p.name + "' does not animate, so it takes no keyframes");
  ResolvedSetting resolved{p.name, p.type, 0.0, {}};
  for (const Keyframe& k : setting.keyframes) resolved.keyframes.push_back({k.time, Clamp(p, k.value, warnings)});
  return resolved;
}

}  // namespace

const char* TypeWord(ParameterType type) {
  switch (type) {
    case ParameterType::Boolean: return "boolean";
    case ParameterType::Integer: return "integer";
    case ParameterType::Double: return "double";
    case ParameterType::Choice: return "choice";
    case ParameterType::String: return "string";
    case ParameterType::Group: return "group";
    case ParameterType::Page: return "page";
    case ParameterType::Other: return "other";
  }
  return "other";
}

ResolvedSettings ResolveSettings(const std::vector<ParameterSetting>& settings,
                                 const std::vector<ParameterInfo>& declared) {
  ResolvedSettings resolved;
  for (const ParameterSetting& setting : settings) {
    const ParameterInfo& p = FindParameter(setting.name, declared);
    const bool repeated = std::any_of(resolved.settings.begin(), resolved.settings.end(),
                                      [&](const ResolvedSetting& r) { return r.name == p.name; });
    if (repeated) throw std::runtime_error("parameter '" + p.name + "' is set twice");
    if (setting.isAnimated()) {
      resolved.settings.push_back(ResolveKeyframes(p, setting, resolved.warnings));
      continue;
    }
    const double value = ParseValue(p, setting.value);
    resolved.settings.push_back({p.name, p.type, Clamp(p, value, resolved.warnings), {}});
  }
  return resolved;
}

}  // namespace lenstrove::cli
