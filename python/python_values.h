#ifndef LENSTROVE_PYTHON_PYTHON_VALUES_H
#define LENSTROVE_PYTHON_PYTHON_VALUES_H

// Between Python objects and the session's values: keyword arguments as
// parameter settings, and a plug-in's description as a dict.

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "session/session.h"

namespace lenstrove::python {

// The settings the keyword arguments ask for, in the order given: each a
// bool, int, float, str, a tuple or list of numbers, or a dict of time to
// one of those for keys. Throws session::Error naming the parameter for an
// unknown name or a value that does not fit; `warnings` names each value
// clamped into its range.
std::vector<session::ResolvedSetting> SettingsFrom(const session::PluginDescription& plugin,
                                                   const pybind11::dict& parameters,
                                                   std::vector<std::string>& warnings);

// label, grouping, contexts, depths, clips and parameters, each parameter
// a dict of name, type, label, group, default, animates and, where they
// apply, minimum, maximum and options.
pybind11::dict DescriptionDict(const session::PluginDescription& plugin);

// identifier, version, label and file.
pybind11::dict SummaryDict(const session::PluginSummary& summary);

}  // namespace lenstrove::python

#endif
