// The parameter suite: definitions, values at a time, keys, derivatives
// and integrals, copies and edits.

#include "suites.h"

#include <cstdarg>
#include <iterator>

#include "ofx/ofxParam.h"
#include "suite_dispatch.h"

namespace lenstrove::host {

namespace {

using namespace suite_dispatch;

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

// Reads the trailing pointers a getter passes, one per dimension: int* for
// booleans, choices and integers (1D to 3D), double* for the double types
// and colours, one char** for strings and custom parameters.
OfxStatus WriteValue(const Param& param, OfxTime time, va_list* args) {
  if (param.Kind() == ValueKind::kString) {
    return Write(va_arg(*args, char**), const_cast<char*>(param.StringAt(time).c_str()));
  }
  if (param.Kind() == ValueKind::kNone) return kOfxStatErrValue;
  ParamValue value = param.ValueAt(time);
  for (double number : value.numbers) {
    OfxStatus status = param.Kind() == ValueKind::kInt ? Write(va_arg(*args, int*), static_cast<int>(number))
                                                       : Write(va_arg(*args, double*), number);
    if (status != kOfxStatOK) return status;
  }
  return kOfxStatOK;
}

// Reads the trailing values a setter passes and stores them: at `time` when
// given, else as paramSetValue does (a key at the current time for a
// parameter that already has keys, the constant otherwise).
OfxStatus ReadValue(Param& param, const OfxTime* time, va_list* args, std::string* shown) {
  ParamValue value;
  switch (param.Kind()) {
    case ValueKind::kInt:
      for (int i = 0; i < param.Dimension(); ++i) value.numbers.push_back(va_arg(*args, int));
      break;
    case ValueKind::kDouble:
      for (int i = 0; i < param.Dimension(); ++i) value.numbers.push_back(va_arg(*args, double));
      break;
    case ValueKind::kString: {
      const char* text = va_arg(*args, const char*);
      *shown = ValueArg(text);
      if (!text) return kOfxStatErrBadHandle;
      value.text = text;
      break;
    }
    case ValueKind::kNone: return kOfxStatErrValue;
  }
  for (double number : value.numbers) {
    std::string text = param.Kind() == ValueKind::kInt ? Text(static_cast<int>(number)) : Text(number);
    *shown += (shown->empty() ? "" : ", ") + text;
  }
  if (!time && param.Keys().empty()) {
    param.SetValue(std::move(value));
  } else {
    param.SetValueAt(time ? *time : param.Owner().Time(), std::move(value));
  }
  return kOfxStatOK;
}

// The derivative or integral of each dimension of a double type, written
// through one double* per dimension.
template <class PerDimension>
OfxStatus WriteDoubles(const Param& param, va_list* args, PerDimension&& per_dimension) {
  if (param.Kind() != ValueKind::kDouble) return kOfxStatErrValue;
  for (int i = 0; i < param.Dimension(); ++i) {
    OfxStatus status = Write(va_arg(*args, double*), per_dimension(i));
    if (status != kOfxStatOK) return status;
  }
  return kOfxStatOK;
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
        if (!Finite(time)) return kOfxStatErrValue;
        return WriteDoubles(param, &args, [&](int i) { return param.DerivativeAt(time, i); });
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
        if (!Finite(time1) || !Finite(time2)) return kOfxStatErrValue;
        return WriteDoubles(param, &args, [&](int i) { return param.IntegralOver(time1, time2, i); });
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

const OfxParameterSuiteV1& ParameterSuite() { return kParameterSuite; }

}  // namespace lenstrove::host
