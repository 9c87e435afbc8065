#include "interface/commands.h"

#include <cmath>
#include <cstdlib>
#include <iostream>
#include <stdexcept>

#include "demo/demo.h"
#include "farm/chunks.h"
#include "image/image_fit.h"
#include "interface/text.h"
#include "interface/text_table.h"
#include "movie/movie_render.h"
#include "render/render_job.h"

namespace lenstrove::cli {
namespace {

std::string Join(const std::vector<std::string>& words, const char* separator = ", ") {
  std::string text;
  for (const std::string& word : words) text += (text.empty() ? "" : separator) + word;
  return text.empty() ? "-" : text;
}

std::string DefaultText(const ParameterInfo& p) {
  if (p.type == ParameterType::String || p.type == ParameterType::Custom) return p.defaultText;
  if (p.defaults.empty() || NumbersOf(p.type) == 0) return "";
  if (p.type == ParameterType::Choice) {
    const auto option = static_cast<std::size_t>(p.defaults[0]);
    return option < p.options.size() ? p.options[option] : FormatNumber(p.defaults[0]);
  }
  const std::string text = ValueText(p.type, {p.defaults, ""});
  return p.spatial == Spatial::None ? text : text + " of the frame";
}

// Numbers show their declared limits; choices their options, by number.
std::string RangeText(const ParameterInfo& p) {
  if (p.type == ParameterType::Choice) return Join(p.options, "|");
  if (NumbersOf(p.type) == 0 || p.type == ParameterType::Boolean) return "";
  std::string low, high;
  bool any = false;
  for (std::size_t i = 0; i < p.minimum.size() && i < p.maximum.size(); ++i) {
    any = any || std::isfinite(p.minimum[i]) || std::isfinite(p.maximum[i]);
    low += (i ? "," : "") + (std::isfinite(p.minimum[i]) ? FormatNumber(p.minimum[i]) : "");
    high += (i ? "," : "") + (std::isfinite(p.maximum[i]) ? FormatNumber(p.maximum[i]) : "");
  }
  return any ? low + ".." + high : "";
}

// Only what holds a value can animate.
std::string AnimatesText(const ParameterInfo& p) {
  if (NumbersOf(p.type) == 0 && p.type != ParameterType::String && p.type != ParameterType::Custom) return "";
  return p.animates ? "yes" : "no";
}

std::string ParameterTable(const std::vector<ParameterInfo>& parameters) {
  TextTable table({"NAME", "TYPE", "LABEL", "GROUP", "DEFAULT", "RANGE", "ANIMATES"});
  for (const ParameterInfo& p : parameters)
    table.addRow({p.name, TypeWord(p.type), p.label, p.parent, DefaultText(p), RangeText(p), AnimatesText(p)});
  return table.render();
}

std::string ClipsText(const std::vector<ClipInfo>& clips) {
  std::vector<std::string> parts;
  for (const ClipInfo& clip : clips)
    parts.push_back(clip.name + " (" + Join(clip.components, "/") + (clip.optional ? ", optional" : "") + ")");
  return Join(parts);
}

// "15 parameters in 4 groups": groups and pages hold no value, so they are
// counted apart.
std::string ParameterCount(const std::vector<ParameterInfo>& parameters) {
  std::size_t groups = 0;
  for (const ParameterInfo& p : parameters)
    if (p.type == ParameterType::Group || p.type == ParameterType::Page) ++groups;
  const std::size_t values = parameters.size() - groups;
  std::string text = std::to_string(values) + (values == 1 ? " parameter" : " parameters");
  if (groups > 0) text += " in " + std::to_string(groups) + (groups == 1 ? " group" : " groups");
  return text;
}

// "lenstrove render: com.Qel.Lenstrove.V111 1.11 GuideThirds=on": what made
// the picture, for the output's history; values as applied, after clamping.
std::string HistoryEntry(const PluginSummary& plugin, const std::vector<ResolvedSetting>& settings) {
  std::string entry = "lenstrove render: " + plugin.identifier + " " + plugin.version;
  for (const ResolvedSetting& s : settings) entry += " " + SettingText(s);
  return entry;
}

void PrintWarnings(const std::vector<std::string>& warnings) {
  for (const std::string& warning : warnings) std::cerr << "lenstrove: " << warning << "\n";
}

}  // namespace

std::string FormatDescription(const PluginDescription& d) {
  std::string text;
  text += "identifier  " + d.summary.identifier + "\n";
  text += "version     " + d.summary.version + "\n";
  text += "label       " + d.summary.label + "\n";
  text += "grouping    " + d.grouping + "\n";
  text += "file        " + d.summary.file + "\n";
  text += "contexts    " + Join(d.contexts) + "\n";
  text += "depths      " + Join(d.depths) + "\n";
  text += "clips       " + ClipsText(d.clips) + "\n\n";
  text += ParameterCount(d.parameters) + ":\n";
  text += ParameterTable(d.parameters);
  return text;
}

void RunList(std::ostream& out) {
  std::vector<std::string> problems;
  const std::vector<PluginSummary> plugins = ListPlugins(problems);
  PrintWarnings(problems);
  if (plugins.empty()) {
    out << "No OpenFX plug-ins found in: " << Join(PluginSearchFolders()) << "\n";
    return;
  }
  TextTable table({"IDENTIFIER", "VERSION", "LABEL", "FILE"});
  for (const PluginSummary& p : plugins) table.addRow({p.identifier, p.version, p.label, p.file});
  out << table.render();
}

void RunDescribe(const DescribeCommand& command, std::ostream& out) {
  out << FormatDescription(OpenPlugin(command.plugin)->description());
}

void RunRender(const RenderCommand& command) {
  if (command.fit) CheckFitBox(*command.fit, command.pixelLimit);
  const std::unique_ptr<color::ColourPipeline> colour = color::ColourPipeline::Create(command.colour);
  if (movie::InvolvesMovie(command)) {
    // A movie is written whole, in one go: a chunk of it, or resuming it,
    // would silently render everything again.
    if (command.chunk || command.skipExisting)
      throw std::runtime_error("--chunk and --skip-existing work on image sequences, not on movies");
    const std::unique_ptr<LoadedPlugin> plugin = OpenPlugin(command.plugin);
    const ResolvedSettings resolved = ResolveSettings(command.settings, plugin->description().parameters);
    PrintWarnings(resolved.warnings);
    movie::RunMovieRender(*plugin, command, resolved.settings, colour.get());
    return;
  }
  RenderPlan plan;
  plan.tasks = SelectFramesToRender(command, PlanFrames(command), std::getenv);
  plan.input = ParseFramePattern(command.input);
  const std::unique_ptr<LoadedPlugin> plugin = OpenPlugin(command.plugin);
  const ResolvedSettings resolved = ResolveSettings(command.settings, plugin->description().parameters);
  PrintWarnings(resolved.warnings);
  plan.settings = resolved.settings;
  plan.depth = command.depth;
  plan.tiles = command.tiles;
  plan.jobs = command.jobs;
  plan.pixelLimit = command.pixelLimit;
  plan.colour = colour.get();
  plan.fit = command.fit;
  if (!plan.tasks.empty()) {
    const PixelDepth depth = ChooseDepth(
        plan.depth, ReadImageInfo(plan.tasks.front().input, plan.pixelLimit).naturalDepth(), plugin->description());
    const std::string warning = color::SceneLinearWarning(plan.settings, depth == PixelDepth::Float, command.colour);
    if (!warning.empty()) PrintWarnings({warning});
  }
  plan.part = command.part;
  plan.compression = command.compression;
  plan.history = HistoryEntry(plugin->description().summary, plan.settings);
  ProgressBar progress(static_cast<int>(plan.tasks.size()), ProgressBar::ShouldDraw(command.quiet));
  RunRenderPlan(*plugin, plan, progress);
}

void RunDemoCommand(const DemoCommand& command, std::ostream& out) {
  const std::vector<std::string> written = RunDemo(command);
  out << "Demo pictures (" << written.size() << ") in " << command.folder << ":\n";
  for (const std::string& path : written) out << "  " << path << "\n";
}

}  // namespace lenstrove::cli
