// The lenstrove Python module: any OpenFX filter applied to numpy arrays,
// a thin front end over the host library's render session, as the
// lenstrove command is.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "array_picture.h"
#include "instance_pool.h"
#include "python_values.h"
#include "search_places.h"
#include "session/session.h"

namespace py = pybind11;

namespace lenstrove::python {
namespace {

// Each call warns through Python's warnings module, as libraries do, so a
// script decides whether to see, log or raise them.
void Warn(const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) {
    const std::string text = warning.rfind("warning: ", 0) == 0 ? warning.substr(9) : warning;
    if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 1) != 0) throw py::error_already_set();
  }
}

// search_path: None, one folder, or several; str or os.PathLike each.
std::vector<std::string> FoldersOf(const py::object& searchPath) {
  if (searchPath.is_none()) return {};
  const py::module_ os = py::module_::import("os");
  const auto folder = [&](py::handle item) { return os.attr("fsdecode")(os.attr("fspath")(item)).cast<std::string>(); };
  if (py::isinstance<py::str>(searchPath) || py::isinstance(searchPath, os.attr("PathLike"))) return {folder(searchPath)};
  std::vector<std::string> folders;
  for (py::handle item : py::iter(searchPath)) folders.push_back(folder(item));
  return folders;
}

class PythonPlugin {
 public:
  PythonPlugin(const std::string& which, const py::object& searchPath)
      : pool_(Open(which, SearchOptionsFor(FoldersOf(searchPath))), IdleInstancesKept()) {}

  py::dict Describe() const { return DescriptionDict(Description()); }

  py::array Render(const py::array& array, double time, const std::string& alpha, const py::kwargs& parameters) {
    if (!std::isfinite(time)) throw session::Error("time=" + session::NumberText(time) + " is not a frame time");
    std::vector<std::string> warnings;
    const std::vector<session::ResolvedSetting> settings = SettingsFrom(Description(), parameters, warnings);
    Warn(warnings);
    const ArrayPicture source = SourcePicture(array, alpha);
    const ArrayPicture output = OutputPicture(array, source.picture);
    {
      py::gil_scoped_release released;
      InstancePool::Lease instance = pool_.Take(settings);
      instance->SetFrameRange(time, time);
      instance->Render(source.picture, output.picture, time);
      instance.Return();
    }
    return output.held;
  }

  std::string Repr() const {
    const session::PluginSummary& summary = Description().summary;
    return "<lenstrove.Plugin '" + summary.identifier + "' " + summary.version + " from " + summary.file + ">";
  }

 private:
  const session::PluginDescription& Description() const { return pool_.Plugin().Description(); }

  // Scanning and loading start other processes and the plug-in's own code:
  // other Python threads run meanwhile.
  static session::Plugin Open(const std::string& which, const session::SearchOptions& options) {
    py::gil_scoped_release released;
    return session::Plugin(which, options);
  }

  // Enough for every core to render while as many instances wait with
  // other settings.
  static std::size_t IdleInstancesKept() { return std::max(4u, 2 * std::thread::hardware_concurrency()); }

  InstancePool pool_;
};

py::list Plugins(const py::object& searchPath) {
  const session::SearchOptions options = SearchOptionsFor(FoldersOf(searchPath));
  std::vector<std::string> problems;
  std::vector<session::PluginSummary> found;
  {
    py::gil_scoped_release released;
    found = session::ListPlugins(options, problems);
  }
  Warn(problems);
  py::list listed;
  for (const session::PluginSummary& summary : found) listed.append(SummaryDict(summary));
  return listed;
}

// lenstrove.Error is a ValueError: what the session refuses is, nearly
// always, a value the caller gave. What the plug-in itself posted, when the
// failure was its own, is the error's plugin_message.
void RegisterError(py::module_& m) {
  static py::exception<session::Error> type(m, "Error", PyExc_ValueError);
  type.attr("plugin_message") = "";
  py::register_exception_translator([](std::exception_ptr failure) {
    try {
      if (failure) std::rethrow_exception(failure);
    } catch (const session::Error& error) {
      py::object raised = static_cast<py::object&>(type)(error.what());
      raised.attr("plugin_message") = error.PluginMessage();
      PyErr_SetObject(type.ptr(), raised.ptr());
    }
  });
}

}  // namespace
}  // namespace lenstrove::python

PYBIND11_MODULE(lenstrove, m) {
  using lenstrove::python::PythonPlugin;
  m.doc() = "Apply any OpenFX image-effect filter to numpy arrays, through the Lenstrove host library.";
  m.attr("__version__") = LENSTROVE_VERSION;
  lenstrove::python::RegisterError(m);

  py::class_<PythonPlugin>(m, "Plugin",
                           "An OpenFX filter, opened by identifier, .ofx file or .ofx.bundle folder.\n\n"
                           "search_path: folders looked in first for an identifier, before OFX_PLUGIN_PATH\n"
                           "and the system's OpenFX folder.")
      .def(py::init<const std::string&, const py::object&>(), py::arg("which"),
           py::arg("search_path") = py::none())
      .def("describe", &PythonPlugin::Describe,
           "What the plug-in declares: label, grouping, contexts, depths, clips and parameters.")
      .def("render", &PythonPlugin::Render, py::arg("array"), py::arg("time") = 0.0,
           py::arg("alpha") = "straight",
           "A new array of the same shape and dtype: the filter applied to `array` (height x width x 4\n"
           "or x 3 of uint8, uint16, float16 or float32, rows top first) at `time`. Parameters are\n"
           "keyword arguments: bool, int, float, str, tuples for 2D, 3D and colour values, and a dict\n"
           "of time to value for keys. `alpha` says how RGBA colour stands to its alpha: 'straight'\n"
           "(as PNG and movies hold it), 'premultiplied' (as OpenEXR does) or 'opaque'.")
      .def("__repr__", &PythonPlugin::Repr);

  m.def("plugins", &lenstrove::python::Plugins, py::arg("search_path") = py::none(),
        "The plug-ins found, as `lenstrove list` shows them: identifier, version, label and file.\n"
        "Plug-ins that failed their scan are named in warnings.");
}
