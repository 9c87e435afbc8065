#pragma once

// A one-line progress bar on standard error: frames done of the total, the
// rate and the time left. It draws only when standard error is a terminal
// (a log file should not fill with carriage returns) and not asked to be
// quiet. Safe to call from several worker threads.

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

namespace lenstrove::cli {

// "[#####.....]  12/48 frames  3.2 fps  0:11 left"; exposed for tests.
std::string FormatProgressLine(int done, int total, double elapsedSeconds, int barWidth);
// 0:07, 1:05, 1:02:03.
std::string FormatDuration(double seconds);

class ProgressBar {
 public:
  ProgressBar(int total, bool enabled, std::FILE* stream = stderr);
  ~ProgressBar();  // ends the line if anything was drawn
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  void frameDone();
  // How far the plug-in says it is through the frame it is rendering, 0..1.
  void framePart(double fraction);
  // Prints a message on its own line without tearing the bar.
  void message(const std::string& text);
  // True when standard error is a terminal and quiet was not asked for.
  static bool ShouldDraw(bool quiet);

 private:
  void draw();

  std::mutex mutex_;
  int total_;
  int done_ = 0;
  int partPercent_ = 0;
  bool enabled_;
  bool drawn_ = false;
  std::FILE* stream_;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace lenstrove::cli
