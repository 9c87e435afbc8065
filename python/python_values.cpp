#include "python_values.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cmath>
#include <optional>

namespace py = pybind11;

namespace lenstrove::python {
namespace {

bool IsBool(py::handle object) {
  return PyBool_Check(object.ptr()) || py::isinstance(object, py::module_::import("numpy").attr("bool_"));
}

bool IsInstance(py::handle object, const char* numbersClass) {
  return py::isinstance(object, py::module_::import("numbers").attr(numbersClass));
}

std::string TypeName(py::handle object) { return py::str(py::type::of(object).attr("__name__")).cast<std::string>(); }

// One number of a tuple or a key's time: anything numbers.Real takes.
std::optional<double> NumberOf(py::handle object) {
  if (IsBool(object) || !IsInstance(object, "Real")) return std::nullopt;
  return py::float_(py::reinterpret_borrow<py::object>(object)).cast<double>();
}

session::Value ValueOf(const std::string& name, py::handle object) {
  if (IsBool(object)) return session::Value(py::bool_(py::reinterpret_borrow<py::object>(object)).cast<bool>());
  if (py::isinstance<py::str>(object)) return session::Value(object.cast<std::string>());
  if (IsInstance(object, "Integral")) {
    // Beyond a 64-bit integer no parameter holds it; as a float the session
    // names it out of shape or range like any other number.
    const py::int_ whole(py::reinterpret_borrow<py::object>(object));
    long long held = 0;
    try {
      held = whole.cast<long long>();
    } catch (const py::cast_error&) {
      return session::Value(py::float_(whole).cast<double>());
    }
    return session::Value(held);
  }
  if (IsInstance(object, "Real")) return session::Value(NumberOf(object).value());
  if (py::isinstance<py::tuple>(object) || py::isinstance<py::list>(object) || py::isinstance<py::array>(object)) {
    session::Value::Numbers numbers;
    for (py::handle item : py::iter(object)) {
      const std::optional<double> number = NumberOf(item);
      if (!number)
        throw session::Error("parameter '" + name + "' is given a " + TypeName(object) + " holding a " +
                             TypeName(item) + "; its numbers must be int or float");
      numbers.push_back(*number);
    }
    return session::Value(std::move(numbers));
  }
  throw session::Error("parameter '" + name + "' cannot take a " + TypeName(object) +
                       ": give a bool, int, float, str, tuple of numbers, or a dict of time to value for keys");
}

session::Keys KeysOf(const std::string& name, const py::dict& keys) {
  session::Keys held;
  for (const auto& [time, value] : keys) {
    const std::optional<double> at = NumberOf(time);
    if (!at)
      throw session::Error("parameter '" + name + "' has a key at " + py::repr(time).cast<std::string>() +
                           ", which is not a time: keys are a dict of time (a number) to value");
    held.emplace(*at, ValueOf(name, value));
  }
  return held;
}

// A parameter's numbers as Python gives them back: whole numbers as int,
// one as a scalar, several as a tuple; None for an infinite limit.
py::object NumbersObject(const session::ParameterInfo& p, const std::vector<double>& numbers) {
  const auto one = [&](double n) -> py::object {
    if (!std::isfinite(n)) return py::none();
    if (p.type == session::ParameterType::Boolean) return py::bool_(n != 0.0);
    if (session::HoldsWholeNumbers(p.type)) return py::int_(static_cast<long long>(n));
    return py::float_(n);
  };
  if (numbers.size() == 1) return one(numbers[0]);
  py::tuple tuple(numbers.size());
  for (std::size_t i = 0; i < numbers.size(); ++i) tuple[i] = one(numbers[i]);
  return std::move(tuple);
}

// The default as render takes it back: a choice by its label.
py::object DefaultObject(const session::ParameterInfo& p) {
  if (session::HoldsText(p.type)) return py::str(p.defaultText);
  if (!session::HoldsValue(p.type) || p.defaults.empty()) return py::none();
  if (p.type == session::ParameterType::Choice) {
    const auto option = static_cast<std::size_t>(p.defaults[0]);
    if (p.defaults[0] >= 0 && option < p.options.size()) return py::str(p.options[option]);
  }
  return NumbersObject(p, p.defaults);
}

py::dict ParameterDict(const session::ParameterInfo& p) {
  py::dict d;
  d["name"] = p.name;
  d["type"] = session::TypeWord(p.type);
  d["label"] = p.label;
  d["group"] = p.parent;
  d["default"] = DefaultObject(p);
  d["animates"] = session::HoldsValue(p.type) && p.animates;
  const bool ranged = session::NumbersOf(p.type) > 0 && p.type != session::ParameterType::Boolean &&
                      p.type != session::ParameterType::Choice;
  if (ranged) {
    d["minimum"] = NumbersObject(p, p.minimum);
    d["maximum"] = NumbersObject(p, p.maximum);
  }
  if (p.type == session::ParameterType::Choice) d["options"] = p.options;
  // Values are always given in pixels; such a default is a place in the
  // frame, which the host puts in pixels of the picture rendered.
  if (p.spatial != session::Spatial::None) d["default_is_fraction_of_frame"] = p.spatial == session::Spatial::FractionDefault;
  return d;
}

}  // namespace

std::vector<session::ResolvedSetting> SettingsFrom(const session::PluginDescription& plugin, const py::dict& parameters,
                                                   std::vector<std::string>& warnings) {
  std::vector<session::ResolvedSetting> settings;
  for (const auto& [key, value] : parameters) {
    const std::string name = key.cast<std::string>();
    if (py::isinstance<py::dict>(value))
      settings.push_back(session::ResolveKeys(plugin.parameters, name, KeysOf(name, value.cast<py::dict>()), warnings,
                                              "this module"));
    else
      settings.push_back(session::ResolveSetting(plugin.parameters, name, ValueOf(name, value), warnings, "this module"));
  }
  return settings;
}

py::dict SummaryDict(const session::PluginSummary& summary) {
  py::dict d;
  d["identifier"] = summary.identifier;
  d["version"] = summary.version;
  d["label"] = summary.label;
  d["file"] = summary.file;
  return d;
}

py::dict DescriptionDict(const session::PluginDescription& plugin) {
  py::dict d = SummaryDict(plugin.summary);
  d["grouping"] = plugin.grouping;
  d["contexts"] = plugin.contexts;
  d["depths"] = plugin.depths;
  py::list clips;
  for (const session::ClipInfo& clip : plugin.clips)
    clips.append(py::dict(py::arg("name") = clip.name, py::arg("components") = clip.components,
                          py::arg("optional") = clip.optional));
  d["clips"] = clips;
  py::list parameters;
  for (const session::ParameterInfo& p : plugin.parameters) parameters.append(ParameterDict(p));
  d["parameters"] = parameters;
  return d;
}

}  // namespace lenstrove::python
