#pragma once

// Command-line parameter settings turned into the session's typed values,
// then checked against what the plug-in declared by the session itself
// (session/values.h): the name must exist, the value must have the shape
// its type takes, numbers outside the declared range are clamped with a
// warning and keys need a parameter that animates.
//
// Values by type: switches on/off (true/false, yes/no, 1/0); numbers; X,Y
// and X,Y,Z for 2D and 3D; R,G,B and R,G,B,A for colours (RGBA takes R,G,B
// as opaque); choices by option number or label; strings and custom values
// as given, ':' and ',' included. Keys are NAME@TIME=VALUE, once per key,
// for every type that animates; doubles also take NAME=T:V,T:V,...

#include <string>
#include <vector>

#include "interface/arguments.h"
#include "session/description.h"
#include "session/values.h"

namespace lenstrove::cli {

using session::NumbersOf;
using session::ParameterInfo;
using session::ParameterType;
using session::ResolvedKey;
using session::ResolvedSetting;
using session::ResolvedValue;
using session::SettingText;
using session::Spatial;
using session::TypeWord;
using session::ValueText;

struct ResolvedSettings {
  std::vector<ResolvedSetting> settings;
  std::vector<std::string> warnings;
};

// Throws std::runtime_error naming the parameter and what is wrong with it.
ResolvedSettings ResolveSettings(const std::vector<ParameterSetting>& settings,
                                 const std::vector<ParameterInfo>& declared);

}  // namespace lenstrove::cli
