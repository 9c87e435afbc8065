#pragma once

// The subcommands. Each prints its results to standard output and its
// warnings to standard error, and throws std::runtime_error on failure.

#include <iosfwd>

#include "interface/arguments.h"
#include "render/plugin_session.h"

namespace lenstrove::cli {

void RunList(std::ostream& out);
void RunDescribe(const DescribeCommand& command, std::ostream& out);
void RunRender(const RenderCommand& command);
void RunDemoCommand(const DemoCommand& command, std::ostream& out);

// The text of `describe`, separate from loading so it can be tested.
std::string FormatDescription(const PluginDescription& description);

}  // namespace lenstrove::cli
