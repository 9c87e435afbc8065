#ifndef LENSTROVE_SESSION_DESCRIPTION_H
#define LENSTROVE_SESSION_DESCRIPTION_H

// What a plug-in describes about itself, in plain values: its name and
// version, the contexts and depths it declares, its clips and its
// parameters in declaration order, with their types, defaults and ranges.

#include <string>
#include <vector>

namespace lenstrove::session {

enum class ParameterType {
  Boolean, Integer, Double, Choice, String, Group, Page, Other,
  Integer2D, Integer3D, Double2D, Double3D, RGB, RGBA, Custom, PushButton,
};

// How a spatial parameter relates to the frame: its default given as a
// fraction of the frame (which the host places in pixels), or values the
// plug-in reads as fractions (given in pixels all the same). Other
// parameters, spatial ones in pixels among them, are None.
enum class Spatial { None, FractionDefault, Fractions };

struct ParameterInfo {
  std::string name;
  ParameterType type = ParameterType::Other;
  std::string typeName;  // the OpenFX type, "OfxParamTypeDouble", for messages
  std::string label;
  std::string parent;  // the group it sits in
  bool animates = true;
  std::vector<double> defaults;      // one per number (booleans 0/1, choices the option's number)
  std::string defaultText;           // strings and custom values
  std::vector<double> minimum;       // per number; -infinity where none was declared
  std::vector<double> maximum;       // per number; +infinity where none was declared
  std::vector<std::string> options;  // a choice's labels, numbered from 0
  Spatial spatial = Spatial::None;
};

struct ClipInfo {
  std::string name;
  std::vector<std::string> components;  // "RGBA", "Alpha", ...
  bool optional = false;
};

struct PluginSummary {
  std::string identifier;
  std::string version;  // "1.11"
  std::string label;    // the identifier when the plug-in declares none
  std::string file;     // the .ofx binary
};

struct PluginDescription {
  PluginSummary summary;
  std::string grouping;
  std::vector<std::string> contexts;      // "filter", "general", ...
  std::vector<std::string> depths;        // "byte", "short", "half", "float"
  std::vector<ClipInfo> clips;            // as the context renders use declares them
  std::vector<ParameterInfo> parameters;  // in declaration order
  // A plug-in that declares its renders unsafe gets one render at a time
  // in the whole process, so one worker is all it can use; one without
  // tile support gets whole frames.
  bool rendersInParallel = true;
  bool supportsTiles = true;

  bool SupportsDepth(const std::string& depth) const;  // "byte", "short", "half", "float"
};

// Short name of a type for tables: "boolean", "2D double", ...
const char* TypeWord(ParameterType type);
// The type in a sentence: "a boolean", "an RGB colour", ...
const char* TypePhrase(ParameterType type);
// How many numbers a value of the type holds (RGBA: 4); 0 for text and
// types without a value.
int NumbersOf(ParameterType type);
// Strings and custom values, which hold text.
bool HoldsText(ParameterType type);
// Types whose numbers are whole: booleans, integers, choices.
bool HoldsWholeNumbers(ParameterType type);
// Whether a caller can give the type a value (groups, pages, push buttons
// and types the host does not know cannot).
bool HoldsValue(ParameterType type);

}  // namespace lenstrove::session

#endif
