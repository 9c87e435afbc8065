#ifndef LENSTROVE_HOST_SUITE_DISPATCH_H
#define LENSTROVE_HOST_SUITE_DISPATCH_H

// What every member of the property, image effect and parameter suites does
// around its own work. The suites are C function tables; each member is a
// static trampoline that finds the host object behind its handle (or
// answers kOfxStatErrBadHandle without touching anything), applies the
// host's faults, does the work and logs the call. Null pointers the host
// would have to read or write through are bad handles too. Internal to the
// suites.

#include <cmath>
#include <new>
#include <string>
#include <type_traits>

#include "effect.h"
#include "handles.h"
#include "host.h"
#include "image.h"
#include "param_set.h"
#include "property_set.h"

namespace lenstrove::host::suite_dispatch {

// ---- From handles to objects ----------------------------------------------

// Inline: an explicit specialisation is not, and each suite's file that
// includes this would otherwise define it again (clang's linker refuses).
template <class Object>
inline constexpr HandleKind kKindOf = HandleKind::kPropertySet;
template <>
inline constexpr HandleKind kKindOf<FetchedImage> = HandleKind::kImage;
template <>
inline constexpr HandleKind kKindOf<Effect> = HandleKind::kEffect;
template <>
inline constexpr HandleKind kKindOf<Clip> = HandleKind::kClip;
template <>
inline constexpr HandleKind kKindOf<ParamSet> = HandleKind::kParamSet;
template <>
inline constexpr HandleKind kKindOf<Param> = HandleKind::kParam;
template <>
inline constexpr HandleKind kKindOf<MemoryBlock> = HandleKind::kMemory;

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

inline std::string LabelOf(const PropertySet& properties) { return properties.Label(); }
inline std::string LabelOf(const Effect& effect) { return effect.Label(); }
inline std::string LabelOf(const Clip& clip) { return "clip " + clip.Name(); }
inline std::string LabelOf(const ParamSet&) { return "param set"; }
inline std::string LabelOf(const Param& param) { return "param " + param.Name(); }
inline std::string LabelOf(const MemoryBlock&) { return "memory"; }

template <class Object>
std::string LabelOf(const Target<Object>& target, const void* handle) {
  if (target.object) return LabelOf(*target.object);
  return handle ? "<bad handle>" : "null";
}

inline std::string Text(const std::string& text) { return text; }
inline std::string Text(const char* name) { return name ? name : "null"; }
inline std::string Text(int number) { return std::to_string(number); }
inline std::string Text(unsigned number) { return std::to_string(number); }
inline std::string Text(size_t number) { return std::to_string(number); }
inline std::string Text(double number) { return ValueText(number); }

inline std::string ValueArg(void* value) { return ValueText(value); }
inline std::string ValueArg(const char* value) { return value ? ValueText(std::string(value)) : "null"; }
inline std::string ValueArg(double value) { return ValueText(value); }
inline std::string ValueArg(int value) { return ValueText(value); }

inline std::string RectArg(const OfxRectD* rect) {
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

inline auto NoArgs() {
  return [] { return std::string(); };
}

inline bool Finite(OfxTime time) { return std::isfinite(time); }

}  // namespace lenstrove::host::suite_dispatch

#endif
