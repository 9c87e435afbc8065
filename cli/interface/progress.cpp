#include "interface/progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace lenstrove::cli {

std::string FormatDuration(double seconds) {
  const long total = std::lround(std::max(seconds, 0.0));
  const long hours = total / 3600, minutes = (total / 60) % 60, secs = total % 60;
  char text[32];
  if (hours > 0)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", hours, minutes, secs);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", minutes, secs);
  return text;
}

std::string FormatProgressLine(int done, int total, double elapsedSeconds, int barWidth) {
  const int filled = total > 0 ? static_cast<int>(static_cast<long long>(barWidth) * done / total) : barWidth;
  std::string line = "[" + std::string(filled, '#') + std::string(barWidth - filled, '.') + "]";
  char counts[96];
  std::snprintf(counts, sizeof counts, " %d/%d frames", done, total);
  line += counts;
  // Rate and time left need at least one finished frame to mean anything.
  if (done > 0 && elapsedSeconds > 0.0) {
    const double rate = done / elapsedSeconds;
    char rateText[48];
    std::snprintf(rateText, sizeof rateText, "  %.1f fps", rate);
    line += rateText;
    line += "  " + FormatDuration((total - done) / rate) + " left";
  }
  return line;
}

bool ProgressBar::ShouldDraw(bool quiet) { return !quiet && ::isatty(STDERR_FILENO) == 1; }

ProgressBar::ProgressBar(int total, bool enabled, std::FILE* stream)
    : total_(total), enabled_(enabled), stream_(stream), start_(std::chrono::steady_clock::now()) {
  std::lock_guard<std::mutex> lock(mutex_);
  draw();
}

ProgressBar::~ProgressBar() {
  if (drawn_) std::fputc('\n', stream_);
}

void ProgressBar::frameDone() {
  std::lock_guard<std::mutex> lock(mutex_);
  ++done_;
  partPercent_ = 0;
  draw();
}

void ProgressBar::framePart(double fraction) {
  std::lock_guard<std::mutex> lock(mutex_);
  const int percent = static_cast<int>(std::clamp(fraction, 0.0, 1.0) * 100);
  if (percent == partPercent_) return;  // plug-ins may report every row
  partPercent_ = percent;
  draw();
}

void ProgressBar::message(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (drawn_) std::fputs("\r\033[K", stream_);
  std::fprintf(stream_, "%s\n", text.c_str());
  draw();
}

void ProgressBar::draw() {
  if (!enabled_) return;
  const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  std::string line = FormatProgressLine(done_, total_, elapsed, 30);
  if (partPercent_ > 0 && partPercent_ < 100) line += "  (frame " + std::to_string(partPercent_) + "%)";
  std::fprintf(stream_, "\r\033[K%s", line.c_str());
  std::fflush(stream_);
  drawn_ = true;
}

}  // namespace lenstrove::cli
