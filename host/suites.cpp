#include "suites.h"

#include <cmath>
#include <cstdarg>
#include <iterator>
#include <new>
#include <type_traits>

#include "effect.h"
#include "host.h"
#include "image.h"
#include "ofx/ofxImageEffect.h"
#include "ofx/ofxParam.h"
#include "ofx/ofxProperty.h"

// The suites are C function tables; each member is a static trampoline that
// finds the host object behind its handle (or answers kOfxStatErrBadHandle
// without touching anything), applies the host's faults, does the work and
// logs the call. Null pointers the host would have to read or write through
// are bad handles too.

namespace lenstrove::host {

namespace {

// ---- From handles to objects ----------------------------------------------

template <class Object>
constexpr HandleKind kKindOf = HandleKind::kPropertySet;
template <>
constexpr HandleKind kKindOf<FetchedImage> = HandleKind::kImage;
template <>
constexpr HandleKind kKindOf<Effect> = HandleKind::kEffect;
template <>
constexpr HandleKind kKindOf<Clip> = HandleKind::kClip;
template <>
constexpr HandleKind kKindOf<ParamSet> = HandleKind::kParamSet;
template <>
constexpr HandleKind kKindOf<Param> = HandleKind::kParam;
template <>
constexpr HandleKind kKindOf<MemoryBlock> = HandleKind::kMemory;

template <class Object>
struct Target {
  Object* object;  // null when the handle names no live object of this kind
  Host* host;      // its owner, or where to report a bad handle
};

template <class Object>
Target<Object> Resolve(void* handle) {
  HandleRegistry& registry = HandleRegistry::Instance();
  Host* owner = registry.Owner(handle, kKindOf<Object>);
  if (!owner) return {nullptr, registry.Fallback()};
  // An image is registered under its PropertySet base, which its handle addresses.
  if constexpr (std::is_same_v<Object, FetchedImage>) {
    return {static_cast<FetchedImage*>(static_cast<PropertySet*>(handle)), owner};
  } else {
    return {static_cast<Object*>(handle), owner};
  }
}

// ---- Rendering arguments for the call log ---------------------------------

std::string LabelOf(const PropertySet& properties) { return properties.Label(); }
std::string LabelOf(const Effect& effect) { return effect.Label(); }
std::string LabelOf(const Clip& clip) { return "clip " + clip.Name(); }
std::string LabelOf(const ParamSet&) { return "param set"; }
std::string LabelOf(const Param& param) { return "param " + param.Name(); }
std::string LabelOf(const MemoryBlock&) { return "memory"; }

template <class Object>
std::string LabelOf(const Target<Object>& target, const void* handle) {
  if (target.object) return LabelOf(*target.object);
  return handle ? "<bad handle>" : "null";
}

std::string Text(const std::string& text) { return text; }
std::string Text(const char* name) { return name ? name : "null"; }
std::string Text(int number) { return std::to_string(number); }
std::string Text(unsigned number) { return std::to_string(number); }
std::string Text(size_t number) { return std::to_string(number); }
std::string Text(double number) { return ValueText(number); }

std::string ValueArg(void* value) { return ValueText(value); }
std::string ValueArg(const char* value) { return value ? ValueText(std::string(value)) : "null"; }
std::string ValueArg(double value) { return ValueText(value); }
std::string ValueArg(int value) { return ValueText(value); }

std::string RectArg(const OfxRectD* rect) {
  if (!rect) return "null";
  return "{" + Text(rect->x1) + ", " + Text(rect->y1) + ", " + Text(rect->x2) + ", " + Text(rect->y2) + "}";
}

template <class... Parts>
std::string Args(const Parts&... parts) {
  std::string text;
  const char* separator = "";
  ((text += separator + Text(parts), separator = ", "), ...);
  return text;
}

// ---- Running a call --------------------------------------------------------

// Exceptions must not cross into the plug-in's C code.
template <class Body>
OfxStatus Guarded(Body& body, Host& host) {
  try {
    return body(host);
  } catch (const std::bad_alloc&) {
    return kOfxStatErrMemory;
  } catch (...) {
    return kOfxStatErrFatal;
  }
}

// `target` is worked out before the body runs, which may free the object
// (clipReleaseImage); `describe` runs after it, so it can show what the body
// read from the variable arguments.
template <class Describe, class Body>
OfxStatus Run(Host* host, const char* function, const std::string& target, Describe&& describe, Body&& body) {
  if (!host) return kOfxStatErrBadHandle;
  OfxStatus status = host->Faults().Rejects(function) ? kOfxStatErrUnknown : Guarded(body, *host);
  if (host->Log().Enabled()) {
    std::string rest = describe();
    host->Log().Add({function, rest.empty() ? target : target + ", " + rest, status});
  }
  return status;
}

template <class Object, class Describe, class Body>
OfxStatus Dispatch(const char* function, void* handle, Describe&& describe, Body&& body) {
  Target<Object> target = Resolve<Object>(handle);
  bool logging = target.host && target.host->Log().Enabled();
  return Run(target.host, function, logging ? LabelOf(target, handle) : std::string(), describe,
             [&](Host& host) { return target.object ? body(*target.object, host) : kOfxStatErrBadHandle; });
}

auto NoArgs() {
  return [] { return std::string(); };
}

bool Finite(OfxTime time) { return std::isfinite(time); }

// ---- Property suite --------------------------------------------------------

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

// ---- Image effect suite ----------------------------------------------------

OfxStatus GetPropertySet(OfxImageEffectHandle handle, OfxPropertySetHandle* properties) {
  return Dispatch<Effect>("getPropertySet", handle, NoArgs(), [&](Effect& effect, Host&) {
    if (!properties) return kOfxStatErrBadHandle;
    *properties = effect.Properties().Handle();
    return kOfxStatOK;
  });
}

OfxStatus GetParamSet(OfxImageEffectHandle handle, OfxParamSetHandle* params) {
  return Dispatch<Effect>("getParamSet", handle, NoArgs(), [&](Effect& effect, Host&) {
    if (!params) return kOfxStatErrBadHandle;
    *params = effect.Params().Handle();
    return kOfxStatOK;
  });
}

OfxStatus ClipDefine(OfxImageEffectHandle handle, const char* name, OfxPropertySetHandle* properties) {
  return Dispatch<Effect>(
      "clipDefine", handle, [&] { return Args(name); },
      [&](Effect& effect, Host&) {
        if (!name) return kOfxStatErrBadHandle;
        Clip* clip = nullptr;
        OfxStatus status = effect.DefineClip(name, &clip);
        if (status == kOfxStatOK && properties) *properties = clip->Properties().Handle();
        return status;
      });
}

OfxStatus ClipGetHandle(OfxImageEffectHandle handle, const char* name, OfxImageClipHandle* clip,
                        OfxPropertySetHandle* properties) {
  return Dispatch<Effect>(
      "clipGetHandle", handle, [&] { return Args(name); },
      [&](Effect& effect, Host&) {
        if (!name || !clip) return kOfxStatErrBadHandle;
        Clip* found = effect.FindClip(name);
        if (!found) return kOfxStatErrUnknown;
        *clip = found->Handle();
        if (properties) *properties = found->Properties().Handle();
        return kOfxStatOK;
      });
}

OfxStatus ClipGetPropertySet(OfxImageClipHandle handle, OfxPropertySetHandle* properties) {
  return Dispatch<Clip>("clipGetPropertySet", handle, NoArgs(), [&](Clip& clip, Host&) {
    if (!properties) return kOfxStatErrBadHandle;
    *properties = clip.Properties().Handle();
    return kOfxStatOK;
  });
}

OfxStatus ClipGetImage(OfxImageClipHandle handle, OfxTime time, const OfxRectD* region,
                       OfxPropertySetHandle* image) {
  return Dispatch<Clip>(
      "clipGetImage", handle, [&] { return Args(time, RectArg(region)); },
      [&](Clip& clip, Host&) { return image ? clip.Owner().FetchImage(clip, time, image) : kOfxStatErrBadHandle; });
}

OfxStatus ClipReleaseImage(OfxPropertySetHandle handle) {
  return Dispatch<FetchedImage>("clipReleaseImage", handle, NoArgs(), [&](FetchedImage& image, Host&) {
    image.Owner().ReleaseImage(image);
    return kOfxStatOK;
  });
}

// The image's declared region of definition, or its bounds without one.
OfxRectD RegionOf(const Image& image) {
  OfxRectI region = image.Bounds();
  const Property* declared = image.Properties().Lookup(kOfxImagePropRegionOfDefinition);
  if (declared && declared->type == PropertyType::kInt && declared->values.size() == 4) {
    const auto& corner = declared->values;
    region = {std::get<int>(corner[0]), std::get<int>(corner[1]), std::get<int>(corner[2]), std::get<int>(corner[3])};
  }
  return {double(region.x1), double(region.y1), double(region.x2), double(region.y2)};
}

OfxStatus ClipGetRegionOfDefinition(OfxImageClipHandle handle, OfxTime time, OfxRectD* bounds) {
  return Dispatch<Clip>(
      "clipGetRegionOfDefinition", handle, [&] { return Args(time); },
      [&](Clip& clip, Host&) {
        if (!bounds) return kOfxStatErrBadHandle;
        if (clip.RegionOfDefinition()) {
          *bounds = *clip.RegionOfDefinition();
          return kOfxStatOK;
        }
        Image* image = clip.ImageAt(time);
        if (!image) return kOfxStatFailed;
        *bounds = RegionOf(*image);
        return kOfxStatOK;
      });
}

int Abort(OfxImageEffectHandle handle) {
  int abort = 0;
  Dispatch<Effect>("abort", handle, NoArgs(), [&](Effect& effect, Host&) {
    abort = effect.AbortRequested() ? 1 : 0;
    return kOfxStatOK;
  });
  return abort;
}

// The instance is optional here: memory need not belong to an instance.
OfxStatus ImageMemoryAlloc(OfxImageEffectHandle instance, size_t size, OfxImageMemoryHandle* memory) {
  Target<Effect> target = Resolve<Effect>(instance);
  bool instance_usable = !instance || target.object;
  bool logging = target.host && target.host->Log().Enabled();
  return Run(
      target.host, "imageMemoryAlloc", logging ? LabelOf(target, instance) : std::string(),
      [&] { return Args(size); },
      [&](Host& host) {
        if (!instance_usable || !memory) return kOfxStatErrBadHandle;
        return host.AllocateMemory(size, memory);
      });
}

OfxStatus ImageMemoryFree(OfxImageMemoryHandle handle) {
  return Dispatch<MemoryBlock>("imageMemoryFree", handle, NoArgs(), [&](MemoryBlock& block, Host& host) {
    host.FreeMemory(block);
    return kOfxStatOK;
  });
}

OfxStatus ImageMemoryLock(OfxImageMemoryHandle handle, void** pointer) {
  return Dispatch<MemoryBlock>("imageMemoryLock", handle, NoArgs(), [&](MemoryBlock& block, Host&) {
    if (!pointer) return kOfxStatErrBadHandle;
    *pointer = block.Lock();
    return kOfxStatOK;
  });
}

OfxStatus ImageMemoryUnlock(OfxImageMemoryHandle handle) {
  return Dispatch<MemoryBlock>("imageMemoryUnlock", handle, NoArgs(), [&](MemoryBlock& block, Host&) {
    return block.Unlock() ? kOfxStatOK : kOfxStatFailed;
  });
}

constexpr OfxImageEffectSuiteV1 kImageEffectSuite = {
    GetPropertySet,   GetParamSet,      ClipDefine,      ClipGetHandle,     ClipGetPropertySet,
    ClipGetImage,     ClipReleaseImage, ClipGetRegionOfDefinition,          Abort,
    ImageMemoryAlloc, ImageMemoryFree,  ImageMemoryLock, ImageMemoryUnlock,
};

// ---- Parameter suite -------------------------------------------------------

OfxStatus ParamDefine(OfxParamSetHandle handle, const char* type, const char* name,
                      OfxPropertySetHandle* properties) {
  return Dispatch<ParamSet>(
      "paramDefine", handle, [&] { return Args(type, name); },
      [&](ParamSet& set, Host&) {
        if (!type || !name) return kOfxStatErrBadHandle;
        Param* param = nullptr;
        OfxStatus status = set.Define(type, name, &param);
        if (status == kOfxStatOK && properties) *properties = param->Properties().Handle();
        return status;
      });
}

OfxStatus ParamGetHandle(OfxParamSetHandle handle, const char* name, OfxParamHandle* param,
                         OfxPropertySetHandle* properties) {
  return Dispatch<ParamSet>(
      "paramGetHandle", handle, [&] { return Args(name); },
      [&](ParamSet& set, Host& host) {
        if (!name || !param) return kOfxStatErrBadHandle;
        if (host.Faults().failing_param_handles.count(std::string_view(name))) return kOfxStatErrUnknown;
        Param* found = set.Find(name);
        if (!found) return kOfxStatErrUnknown;
        *param = found->Handle();
        if (properties) *properties = found->Properties().Handle();
        return kOfxStatOK;
      });
}

OfxStatus ParamSetGetPropertySet(OfxParamSetHandle handle, OfxPropertySetHandle* properties) {
  return Dispatch<ParamSet>("paramSetGetPropertySet", handle, NoArgs(), [&](ParamSet& set, Host&) {
    if (!properties) return kOfxStatErrBadHandle;
    *properties = set.Properties().Handle();
    return kOfxStatOK;
  });
}

OfxStatus ParamGetPropertySet(OfxParamHandle handle, OfxPropertySetHandle* properties) {
  return Dispatch<Param>("paramGetPropertySet", handle, NoArgs(), [&](Param& param, Host&) {
    if (!properties) return kOfxStatErrBadHandle;
    *properties = param.Properties().Handle();
    return kOfxStatOK;
  });
}

template <class T>
OfxStatus Write(T* out, T value) {
  if (!out) return kOfxStatErrBadHandle;
  *out = value;
  return kOfxStatOK;
}

// Reads the one trailing pointer a getter passes: int* for booleans,
// integers and choices, double* for doubles, char** for strings.
OfxStatus WriteValue(const Param& param, OfxTime time, va_list* args) {
  switch (param.Kind()) {
    case ValueKind::kInt: return Write(va_arg(*args, int*), param.IntValue());
    case ValueKind::kDouble: return Write(va_arg(*args, double*), param.DoubleAt(time));
    case ValueKind::kString: return Write(va_arg(*args, char**), const_cast<char*>(param.StringValue().c_str()));
    case ValueKind::kNone: break;
  }
  return kOfxStatErrValue;
}

// Reads the one trailing value a setter passes and stores it: at `time`
// when given, else as paramSetValue does (a key at the current time for a
// double that already has keys).
OfxStatus ReadValue(Param& param, const OfxTime* time, va_list* args, std::string* shown) {
  switch (param.Kind()) {
    case ValueKind::kInt: {
      int value = va_arg(*args, int);
      *shown = Text(value);
      param.SetInt(value);
      return kOfxStatOK;
    }
    case ValueKind::kDouble: {
      double value = va_arg(*args, double);
      *shown = Text(value);
      if (!time && param.Keys().empty()) {
        param.SetDouble(value);
      } else {
        param.SetDoubleAt(time ? *time : param.Owner().Time(), value);
      }
      return kOfxStatOK;
    }
    case ValueKind::kString: {
      const char* value = va_arg(*args, const char*);
      *shown = ValueArg(value);
      if (!value) return kOfxStatErrBadHandle;
      param.SetString(value);
      return kOfxStatOK;
    }
    case ValueKind::kNone: break;
  }
  return kOfxStatErrValue;
}

OfxStatus ParamGetValue(OfxParamHandle handle, ...) {
  va_list args;
  va_start(args, handle);
  OfxStatus status = Dispatch<Param>("paramGetValue", handle, NoArgs(), [&](Param& param, Host&) {
    return WriteValue(param, param.Owner().Time(), &args);
  });
  va_end(args);
  return status;
}

OfxStatus ParamGetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
  va_list args;
  va_start(args, time);
  OfxStatus status = Dispatch<Param>(
      "paramGetValueAtTime", handle, [&] { return Args(time); },
      [&](Param& param, Host&) { return Finite(time) ? WriteValue(param, time, &args) : kOfxStatErrValue; });
  va_end(args);
  return status;
}

OfxStatus ParamGetDerivative(OfxParamHandle handle, OfxTime time, ...) {
  va_list args;
  va_start(args, time);
  OfxStatus status = Dispatch<Param>(
      "paramGetDerivative", handle, [&] { return Args(time); },
      [&](Param& param, Host&) {
        if (param.Kind() != ValueKind::kDouble || !Finite(time)) return kOfxStatErrValue;
        return Write(va_arg(args, double*), param.DerivativeAt(time));
      });
  va_end(args);
  return status;
}

OfxStatus ParamGetIntegral(OfxParamHandle handle, OfxTime time1, OfxTime time2, ...) {
  va_list args;
  va_start(args, time2);
  OfxStatus status = Dispatch<Param>(
      "paramGetIntegral", handle, [&] { return Args(time1, time2); },
      [&](Param& param, Host&) {
        if (param.Kind() != ValueKind::kDouble || !Finite(time1) || !Finite(time2)) return kOfxStatErrValue;
        return Write(va_arg(args, double*), param.IntegralOver(time1, time2));
      });
  va_end(args);
  return status;
}

OfxStatus ParamSetValue(OfxParamHandle handle, ...) {
  va_list args;
  va_start(args, handle);
  std::string shown;
  OfxStatus status = Dispatch<Param>(
      "paramSetValue", handle, [&] { return shown; },
      [&](Param& param, Host&) { return ReadValue(param, nullptr, &args, &shown); });
  va_end(args);
  return status;
}

OfxStatus ParamSetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
  va_list args;
  va_start(args, time);
  std::string shown;
  OfxStatus status = Dispatch<Param>(
      "paramSetValueAtTime", handle, [&] { return Args(time, shown); },
      [&](Param& param, Host&) { return Finite(time) ? ReadValue(param, &time, &args, &shown) : kOfxStatErrValue; });
  va_end(args);
  return status;
}

OfxStatus ParamGetNumKeys(OfxParamHandle handle, unsigned int* count) {
  return Dispatch<Param>("paramGetNumKeys", handle, NoArgs(), [&](Param& param, Host&) {
    return Write(count, static_cast<unsigned>(param.Keys().size()));
  });
}

OfxStatus ParamGetKeyTime(OfxParamHandle handle, unsigned int nth, OfxTime* time) {
  return Dispatch<Param>(
      "paramGetKeyTime", handle, [&] { return Args(nth); },
      [&](Param& param, Host&) {
        if (nth >= param.Keys().size()) return kOfxStatErrBadIndex;
        return Write(time, std::next(param.Keys().begin(), nth)->first);
      });
}

OfxStatus ParamGetKeyIndex(OfxParamHandle handle, OfxTime time, int direction, int* index) {
  return Dispatch<Param>(
      "paramGetKeyIndex", handle, [&] { return Args(time, direction); },
      [&](Param& param, Host&) {
        if (!Finite(time)) return kOfxStatErrValue;
        int found = param.KeyIndex(time, direction);
        return found < 0 ? kOfxStatFailed : Write(index, found);
      });
}

OfxStatus ParamDeleteKey(OfxParamHandle handle, OfxTime time) {
  return Dispatch<Param>(
      "paramDeleteKey", handle, [&] { return Args(time); },
      [&](Param& param, Host&) { return Finite(time) && param.DeleteKey(time) ? kOfxStatOK : kOfxStatErrBadIndex; });
}

OfxStatus ParamDeleteAllKeys(OfxParamHandle handle) {
  return Dispatch<Param>("paramDeleteAllKeys", handle, NoArgs(), [&](Param& param, Host&) {
    param.DeleteAllKeys();
    return kOfxStatOK;
  });
}

OfxStatus ParamCopy(OfxParamHandle to, OfxParamHandle from, OfxTime offset, const OfxRangeD* range) {
  Target<Param> source = Resolve<Param>(from);
  return Dispatch<Param>(
      "paramCopy", to,
      [&] { return Args(LabelOf(source, from), offset, range ? Text(range->min) + ".." + Text(range->max) : "null"); },
      [&](Param& param, Host&) {
        if (!source.object) return kOfxStatErrBadHandle;
        if (!Finite(offset) || (range && (!Finite(range->min) || !Finite(range->max)))) return kOfxStatErrValue;
        return param.CopyFrom(*source.object, offset, range);
      });
}

OfxStatus ParamEditBegin(OfxParamSetHandle handle, const char* name) {
  return Dispatch<ParamSet>(
      "paramEditBegin", handle, [&] { return Args(name); },
      [&](ParamSet& set, Host&) { return set.BeginEdit(name ? name : ""); });
}

OfxStatus ParamEditEnd(OfxParamSetHandle handle) {
  return Dispatch<ParamSet>("paramEditEnd", handle, NoArgs(), [&](ParamSet& set, Host&) { return set.EndEdit(); });
}

constexpr OfxParameterSuiteV1 kParameterSuite = {
    ParamDefine,         ParamGetHandle,      ParamSetGetPropertySet, ParamGetPropertySet, ParamGetValue,
    ParamGetValueAtTime, ParamGetDerivative,  ParamGetIntegral,       ParamSetValue,       ParamSetValueAtTime,
    ParamGetNumKeys,     ParamGetKeyTime,     ParamGetKeyIndex,       ParamDeleteKey,      ParamDeleteAllKeys,
    ParamCopy,           ParamEditBegin,      ParamEditEnd,
};

}  // namespace

const void* FindSuite(std::string_view name, int version) {
  if (version != 1) return nullptr;
  if (name == kOfxPropertySuite) return &kPropertySuite;
  if (name == kOfxImageEffectSuite) return &kImageEffectSuite;
  if (name == kOfxParameterSuite) return &kParameterSuite;
  return nullptr;
}

// The handle is only used to find the host; whatever it is, the plug-in
// gets the same suites.
const void* FetchSuiteEntry(OfxPropertySetHandle handle, const char* name, int version) {
  HandleRegistry& registry = HandleRegistry::Instance();
  Host* host = registry.Owner(handle, HandleKind::kPropertySet);
  if (!host) host = registry.Fallback();
  return host ? host->FetchSuite(name, version) : nullptr;
}

}  // namespace lenstrove::host
