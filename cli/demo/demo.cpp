#include "demo/demo.h"

#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <stdexcept>
#include <system_error>

#include "demo/contact_sheet.h"
#include "render/plugin_session.h"
#include "render/render_job.h"

namespace lenstrove::cli {
namespace fs = std::filesystem;
namespace {

const char* const kSamplePhotographs[] = {"astronaut", "coffee"};
constexpr int kSheetColumns = 7;

std::string ProgramFolder() {
  std::error_code error;
  const fs::path self = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : self.parent_path().string();
}

bool HasSamples(const fs::path& folder) {
  std::error_code error;
  for (const char* name : kSamplePhotographs)
    if (!fs::is_regular_file(folder / (std::string(name) + ".png"), error)) return false;
  return true;
}

std::vector<std::string> SampleFolderCandidates() {
  std::vector<std::string> candidates;
#ifdef LENSTROVE_SOURCE_DATA_DIR
  candidates.push_back(LENSTROVE_SOURCE_DATA_DIR);
#endif
  const std::string program = ProgramFolder();
  if (!program.empty()) candidates.push_back(program + "/../share/lenstrove/data");
  candidates.push_back("/usr/share/lenstrove/data");
  return candidates;
}

std::vector<ParameterSetting> ParseWords(const std::vector<std::string>& words) {
  std::vector<ParameterSetting> settings;
  for (const std::string& word : words) settings.push_back(ParseParameterSetting(word));
  return settings;
}

std::string OutputPath(const std::string& folder, const std::string& photo, const DemoAid& aid) {
  return (fs::path(folder) / (photo + "-" + aid.slug + ".png")).string();
}

// One plan per aid, both photographs in it, so the two render side by side.
RenderPlan PlanForAid(const DemoAid& aid, const LoadedPlugin& plugin, const std::string& samples,
                      const DemoCommand& command) {
  RenderPlan plan;
  for (const char* photo : kSamplePhotographs)
    plan.tasks.push_back({(fs::path(samples) / (std::string(photo) + ".png")).string(),
                          OutputPath(command.folder, photo, aid), 0.0});
  plan.settings = ResolveSettings(ParseWords(aid.settings), plugin.description().parameters).settings;
  plan.jobs = command.jobs;
  return plan;
}

// Each photograph's pictures start a new row of the sheet.
std::vector<SheetEntry> SheetEntries(const std::string& folder) {
  std::vector<SheetEntry> entries;
  for (const char* photo : kSamplePhotographs) {
    for (const DemoAid& aid : DemoAids())
      entries.push_back({OutputPath(folder, photo, aid), aid.label});
    while (entries.size() % kSheetColumns != 0) entries.push_back({"", ""});
  }
  while (!entries.empty() && entries.back().path.empty()) entries.pop_back();
  return entries;
}

void MakeFolder(const std::string& folder) {
  std::error_code error;
  fs::create_directories(folder, error);
  if (error || !fs::is_directory(folder))
    throw std::runtime_error("cannot create demo folder '" + folder + "': " +
                             (error ? error.message() : "a file of that name is in the way"));
}

}  // namespace

const std::vector<DemoAid>& DemoAids() {
  static const std::vector<DemoAid> aids = {
      {"original", "original", {}},
      {"false-colour", "false colour", {"FalseColorMode=on"}},
      {"legal-levels", "legal levels", {"LegalizeLevels=on"}},
      {"skin-line", "skin-tone line", {"ShowSkinToneLine=on"}},
      {"skin-patches", "skin-tone patches", {"ShowSkinTonePatches=on"}},
      {"gray-band", "18% gray band", {"ShowMiddleGray=on"}},
      {"thirds", "rule of thirds", {"GuideThirds=on"}},
      {"golden", "golden ratio", {"GuideGolden=on"}},
      {"crosshair", "centre crosshair", {"GuideCrosshair=on"}},
      {"crop-185", "1.85:1 bars", {"Crop185=on"}},
      {"crop-235", "2.35:1 bars", {"Crop235=on"}},
      {"crop-239", "2.39:1 bars", {"Crop239=on"}},
      {"combination", "combination",
       {"GuideThirds=on", "GuideCrosshair=on", "ShowMiddleGray=on", "Crop239=on", "CropOpacity=0.6"}},
  };
  return aids;
}

std::string FindSampleFolder(const std::string& requested) {
  if (!requested.empty()) {
    if (!HasSamples(requested))
      throw std::runtime_error("folder '" + requested + "' does not hold astronaut.png and coffee.png");
    return requested;
  }
  for (const std::string& candidate : SampleFolderCandidates())
    if (HasSamples(candidate)) return candidate;
  throw std::runtime_error("the sample photographs (astronaut.png, coffee.png) were not found; name their folder with --data");
}

std::vector<std::string> RunDemo(const DemoCommand& command) {
  const std::string samples = FindSampleFolder(command.dataFolder);
  std::unique_ptr<LoadedPlugin> plugin = OpenPlugin(command.plugin);
  MakeFolder(command.folder);
  const int total = static_cast<int>(DemoAids().size() * std::size(kSamplePhotographs));
  std::vector<std::string> written;
  {
    ProgressBar progress(total, ProgressBar::ShouldDraw(command.quiet));
    for (const DemoAid& aid : DemoAids()) {
      const RenderPlan plan = PlanForAid(aid, *plugin, samples, command);
      RunRenderPlan(*plugin, plan, progress);
      for (const FrameTask& task : plan.tasks) written.push_back(task.output);
    }
  }
  const std::string sheet = (fs::path(command.folder) / "contact-sheet.png").string();
  if (!WriteContactSheet(sheet, SheetEntries(command.folder), SheetLayout{kSheetColumns, 180, 180, 24, 10, 13}))
    std::cerr << "lenstrove: warning: text cannot be drawn here (OpenImageIO without FreeType); "
                 "the contact sheet has no labels\n";
  written.push_back(sheet);
  return written;
}

}  // namespace lenstrove::cli
