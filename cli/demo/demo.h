#pragma once

// `lenstrove demo`: each aid of Qel Lenstrove rendered over the bundled
// sample photographs, plus a labelled contact sheet of them all.

#include <string>
#include <vector>

#include "interface/arguments.h"

namespace lenstrove::cli {

struct DemoAid {
  const char* slug;   // part of the file name: astronaut-thirds.png
  const char* label;  // written on the contact sheet
  std::vector<std::string> settings;  // NAME=VALUE words
};

// The aids, "original" (everything off) first.
const std::vector<DemoAid>& DemoAids();

// The folder holding astronaut.png and coffee.png: --data if given, else the
// source tree's data/ (for a build-tree command), else the installed copy
// next to the program (../share/lenstrove/data). Throws when none has them.
std::string FindSampleFolder(const std::string& requested);

// Renders everything into command.folder and returns the files written,
// contact sheet last.
std::vector<std::string> RunDemo(const DemoCommand& command);

}  // namespace lenstrove::cli
