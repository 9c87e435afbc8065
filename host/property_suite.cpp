// The property suite: every member, over any property set a handle names.

#include "suites.h"

#include "ofx/ofxProperty.h"
#include "suite_dispatch.h"

namespace lenstrove::host {

namespace {

using namespace suite_dispatch;

template <class C>
constexpr PropertyType kTypeOf = PropertyType::kInt;
template <>
constexpr PropertyType kTypeOf<void*> = PropertyType::kPointer;
template <>
constexpr PropertyType kTypeOf<const char*> = PropertyType::kString;
template <>
constexpr PropertyType kTypeOf<char*> = PropertyType::kString;
template <>
constexpr PropertyType kTypeOf<double> = PropertyType::kDouble;

struct PropertyFunctionNames {
  const char* set;
  const char* set_n;
  const char* get;
  const char* get_n;
};

// Indexed by PropertyType.
constexpr PropertyFunctionNames kPropertyFunctions[] = {
    {"propSetPointer", "propSetPointerN", "propGetPointer", "propGetPointerN"},
    {"propSetString", "propSetStringN", "propGetString", "propGetStringN"},
    {"propSetDouble", "propSetDoubleN", "propGetDouble", "propGetDoubleN"},
    {"propSetInt", "propSetIntN", "propGetInt", "propGetIntN"},
};

template <class C>
const PropertyFunctionNames& FunctionsOf() {
  return kPropertyFunctions[static_cast<int>(kTypeOf<C>)];
}

template <class C>
bool Readable(C) {
  return true;
}
bool Readable(const char* text) { return text != nullptr; }

template <class C>
PropertyValue ToValue(C value) {
  return value;
}
PropertyValue ToValue(const char* text) { return std::string(text); }

void Store(const PropertyValue& value, void** out) { *out = std::get<void*>(value); }
void Store(const PropertyValue& value, char** out) {
  *out = const_cast<char*>(std::get<std::string>(value).c_str());
}
void Store(const PropertyValue& value, double* out) { *out = std::get<double>(value); }
void Store(const PropertyValue& value, int* out) { *out = std::get<int>(value); }

template <class C>
std::string ListArg(int count, const C* values) {
  if (!values || count < 0 || count > kMaxDimension) return "null";
  std::string text = "{";
  for (int i = 0; i < count; ++i) text += (i ? ", " : "") + ValueArg(values[i]);
  return text + "}";
}

template <class C>
OfxStatus PropSet(OfxPropertySetHandle handle, const char* name, int index, C value) {
  return Dispatch<PropertySet>(
      FunctionsOf<C>().set, handle, [&] { return Args(name, index, ValueArg(value)); },
      [&](PropertySet& set, Host&) {
        if (!name || !Readable(value)) return kOfxStatErrBadHandle;
        return set.Set(name, index, ToValue(value));
      });
}

template <class C>
OfxStatus PropSetN(OfxPropertySetHandle handle, const char* name, int count, const C* values) {
  return Dispatch<PropertySet>(
      FunctionsOf<C>().set_n, handle, [&] { return Args(name, count, ListArg(count, values)); },
      [&](PropertySet& set, Host&) {
        if (!name || (count > 0 && !values)) return kOfxStatErrBadHandle;
        if (count < 0 || count > kMaxDimension) return kOfxStatErrBadIndex;
        std::vector<PropertyValue> converted;
        for (int i = 0; i < count; ++i) {
          if (!Readable(values[i])) return kOfxStatErrBadHandle;
          converted.push_back(ToValue(values[i]));
        }
        return set.SetN(name, kTypeOf<C>, std::move(converted));
      });
}

template <class C>
OfxStatus PropGet(OfxPropertySetHandle handle, const char* name, int index, C* out) {
  return Dispatch<PropertySet>(
      FunctionsOf<C>().get, handle, [&] { return Args(name, index); },
      [&](PropertySet& set, Host& host) {
        if (!name || !out) return kOfxStatErrBadHandle;
        if (host.Faults().Withholds(name)) return kOfxStatErrUnknown;
        const PropertyValue* value = nullptr;
        OfxStatus status = set.Find(name, index, kTypeOf<C>, &value);
        if (status == kOfxStatOK) Store(*value, out);
        return status;
      });
}

template <class C>
OfxStatus PropGetN(OfxPropertySetHandle handle, const char* name, int count, C* out) {
  return Dispatch<PropertySet>(
      FunctionsOf<C>().get_n, handle, [&] { return Args(name, count); },
      [&](PropertySet& set, Host& host) {
        if (!name || (count > 0 && !out)) return kOfxStatErrBadHandle;
        if (host.Faults().Withholds(name)) return kOfxStatErrUnknown;
        const Property* property = set.Lookup(name);
        if (!property) return kOfxStatErrUnknown;
        if (property->type != kTypeOf<C>) return kOfxStatErrValue;
        if (count < 0 || static_cast<size_t>(count) > property->values.size()) return kOfxStatErrBadIndex;
        for (int i = 0; i < count; ++i) Store(property->values[i], out + i);
        return kOfxStatOK;
      });
}

OfxStatus PropReset(OfxPropertySetHandle handle, const char* name) {
  return Dispatch<PropertySet>(
      "propReset", handle, [&] { return Args(name); },
      [&](PropertySet& set, Host&) { return name ? set.Reset(name) : kOfxStatErrBadHandle; });
}

OfxStatus PropGetDimension(OfxPropertySetHandle handle, const char* name, int* count) {
  return Dispatch<PropertySet>(
      "propGetDimension", handle, [&] { return Args(name); },
      [&](PropertySet& set, Host& host) {
        if (!name || !count) return kOfxStatErrBadHandle;
        if (host.Faults().Withholds(name)) return kOfxStatErrUnknown;
        const Property* property = set.Lookup(name);
        if (!property) return kOfxStatErrUnknown;
        *count = static_cast<int>(property->values.size());
        return kOfxStatOK;
      });
}

constexpr OfxPropertySuiteV1 kPropertySuite = {
    PropSet<void*>,   PropSet<const char*>,  PropSet<double>,  PropSet<int>,
    PropSetN<void*>,  PropSetN<const char*>, PropSetN<double>, PropSetN<int>,
    PropGet<void*>,   PropGet<char*>,        PropGet<double>,  PropGet<int>,
    PropGetN<void*>,  PropGetN<char*>,       PropGetN<double>, PropGetN<int>,
    PropReset,        PropGetDimension,
};

}  // namespace

const OfxPropertySuiteV1& PropertySuite() { return kPropertySuite; }

}  // namespace lenstrove::host
