#pragma once

// Command-line parameter settings checked against what the plug-in
// declared: the name must exist, the value must suit the type, numbers
// outside the declared range are clamped with a warning (as editing
// applications do) and keyframes need a double that animates.

#include <optional>
#include <string>
#include <vector>

#include "arguments.h"

namespace lenstrove::cli {

enum class ParameterType { Boolean, Integer, Double, Choice, String, Group, Page, Other };

// One parameter as the plug-in described it, in plain values.
struct ParameterInfo {
  std::string name;
  ParameterType type = ParameterType::Other;
  std::string typeName;  // the OpenFX type, "OfxParamTypeDouble", for messages
  std::string label;
  std::string parent;
  std::optional<double> defaultValue;  // booleans as 0/1
  std::optional<double> minimum;
  std::optional<double> maximum;
  bool animates = true;
};

// A setting ready to hand to the host: a single value or keyframes, already
// clamped to the declared range.
struct ResolvedSetting {
  std::string name;
  ParameterType type = ParameterType::Double;
  double value = 0.0;  // booleans as 0/1
  std::vector<Keyframe> keyframes;
};

struct ResolvedSettings {
  std::vector<ResolvedSetting> settings;
  std::vector<std::string> warnings;
};

// Throws std::runtime_error naming the parameter and what is wrong with it.
ResolvedSettings ResolveSettings(const std::vector<ParameterSetting>& settings,
                                 const std::vector<ParameterInfo>& declared);

// Short name of a type for tables: "boolean", "double", ...
const char* TypeWord(ParameterType type);

}  // namespace lenstrove::cli
