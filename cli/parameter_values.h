#pragma once

// Command-line parameter settings checked against what the plug-in
// declared: the name must exist, the value must have the shape its type
// takes, numbers outside the declared range are clamped with a warning (as
// editing applications do) and keys need a parameter that animates.
//
// Values by type: switches on/off (true/false, yes/no, 1/0); numbers; X,Y
// and X,Y,Z for 2D and 3D; R,G,B and R,G,B,A for colours (RGBA takes R,G,B
// as opaque); choices by option number or label; strings and custom values
// as given, ':' and ',' included. Keys are NAME@TIME=VALUE, once per key,
// for every type that animates; doubles also take NAME=T:V,T:V,...

#include <optional>
#include <string>
#include <vector>

#include "arguments.h"

namespace lenstrove::cli {

enum class ParameterType {
  Boolean, Integer, Double, Choice, String, Group, Page, Other,
  Integer2D, Integer3D, Double2D, Double3D, RGB, RGBA, Custom, PushButton,
};

// How a spatial parameter relates to the frame: its default given as a
// fraction of the frame (which the host places in pixels), or values the
// plug-in reads as fractions (given in pixels on the command line all the
// same). Other parameters, spatial ones in pixels among them, are None.
enum class Spatial { None, FractionDefault, Fractions };

// One parameter as the plug-in described it, in plain values.
struct ParameterInfo {
  std::string name;
  ParameterType type = ParameterType::Other;
  std::string typeName;  // the OpenFX type, "OfxParamTypeDouble", for messages
  std::string label;
  std::string parent;
  bool animates = true;
  std::vector<double> defaults;        // one per number (booleans 0/1, choices the option's number)
  std::string defaultText;             // strings and custom values
  std::vector<double> minimum;         // per number; -infinity where none was declared
  std::vector<double> maximum;         // per number; +infinity where none was declared
  std::vector<std::string> options;    // a choice's labels, numbered from 0
  Spatial spatial = Spatial::None;
};

// One value ready for the host: a number per dimension, or text.
struct ResolvedValue {
  std::vector<double> numbers;  // booleans 0/1, choices the option's number
  std::string text;             // strings and custom values
};

struct ResolvedKey {
  double time;
  ResolvedValue value;
};

// A setting ready to hand to the host: one value, or keys in time order,
// already clamped to the declared range.
struct ResolvedSetting {
  std::string name;
  ParameterType type = ParameterType::Double;
  ResolvedValue value;  // when there are no keys
  std::vector<ResolvedKey> keys;
  // The first number of the value, for switches and single numbers.
  double number() const { return value.numbers.empty() ? 0.0 : value.numbers[0]; }
};

struct ResolvedSettings {
  std::vector<ResolvedSetting> settings;
  std::vector<std::string> warnings;
};

// Throws std::runtime_error naming the parameter and what is wrong with it.
ResolvedSettings ResolveSettings(const std::vector<ParameterSetting>& settings,
                                 const std::vector<ParameterInfo>& declared);

// Short name of a type for tables: "boolean", "2D double", ...
const char* TypeWord(ParameterType type);
// How many numbers a value of the type holds (RGBA: 4); 0 for text and
// types without a value.
int NumbersOf(ParameterType type);
// A value as typed on the command line: "on", "0.5", "4,3", "text".
std::string ValueText(ParameterType type, const ResolvedValue& value);
// "NAME=VALUE", or "NAME@T=VALUE" for each key: how to type the setting again.
std::string SettingText(const ResolvedSetting& setting);

}  // namespace lenstrove::cli
