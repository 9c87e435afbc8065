#ifndef LENSTROVE_HOST_PROPERTY_TABLE_H
#define LENSTROVE_HOST_PROPERTY_TABLE_H

// Every property the standard defines on the objects this host makes, with
// its type, number of values, default and the objects that carry it, in one
// table. Each object starts with all of its properties in place, so a
// plug-in that looks before it sets (as the standard's C++ support library
// does) finds what the standard promises: a multi-valued property that
// nothing has filled yet answers a dimension of 0 rather than "unknown".
//
// The objects' own values (a clip's name, what this host supports) are set
// by their makers over these defaults.

#include <cstdint>
#include <string_view>
#include <vector>

#include "property_set.h"

namespace lenstrove::host {

// The objects that carry properties, as bits so a row can name several.
// Parameter descriptors and instances carry the same, per parameter type.
enum Carrier : uint32_t {
  kHostObject = 1u << 0,
  kEffectDescriptor = 1u << 1,
  kEffectInstance = 1u << 2,
  kClipDescriptor = 1u << 3,
  kClipInstance = 1u << 4,
  kImageObject = 1u << 5,
  kParamSetObject = 1u << 6,
  kGroupParam = 1u << 7,
  kPageParam = 1u << 8,
  kPushButtonParam = 1u << 9,
  kBooleanParam = 1u << 10,
  kChoiceParam = 1u << 11,
  kIntegerParam = 1u << 12,
  kInteger2DParam = 1u << 13,
  kInteger3DParam = 1u << 14,
  kDoubleParam = 1u << 15,
  kDouble2DParam = 1u << 16,
  kDouble3DParam = 1u << 17,
  kRGBParam = 1u << 18,
  kRGBAParam = 1u << 19,
  kStringParam = 1u << 20,
  kCustomParam = 1u << 21,
  // The arguments of the render and sequence actions, where plug-ins look
  // for properties that only some hosts set.
  kRenderArgs = 1u << 22,
  kSequenceArgs = 1u << 23,
};

// A row of the table. `dimension` 0 means any number of values, starting
// with none. `defaults` lists the values separated by commas ("1,1"; "" is
// one empty string for a string of dimension 1 and no values for dimension
// 0); "max" and "-max" are the type's largest and lowest numbers.
struct StandardProperty {
  const char* name;
  PropertyType type;
  int dimension;
  const char* defaults;
  uint32_t carriers;
};

// The whole table, in the standard's order of objects.
const std::vector<StandardProperty>& StandardProperties();

// The carrier bit of a parameter type ("OfxParamTypeDouble2D"); 0 for a
// type this host does not know.
uint32_t ParamCarrier(std::string_view param_type);

// Adds every property `carrier` has that the set lacks, at its default.
// Properties already there (copied from a descriptor, set by the plug-in)
// are left as they are.
void AddStandardProperties(PropertySet& properties, uint32_t carrier);

// A row's default values, as the set would hold them.
std::vector<PropertyValue> DefaultValues(const StandardProperty& row);

}  // namespace lenstrove::host

#endif
