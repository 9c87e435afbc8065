#include "av_support.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <new>

extern "C" {
#include <libavutil/log.h>
}

namespace lenstrove::cli::movie {
namespace {

constexpr std::array<const char*, 12> kMovieExtensions = {"mov", "mp4", "m4v", "mxf", "mkv", "avi",
                                                          "webm", "mts", "m2ts", "ts", "nut", "y4m"};

std::mutex gLogMutex;
std::string gLastError;

void KeepLastError(void*, int level, const char* format, va_list arguments) {
  if (level > AV_LOG_ERROR) return;
  char line[512];
  std::vsnprintf(line, sizeof line, format, arguments);
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  std::lock_guard<std::mutex> lock(gLogMutex);
  gLastError = text;
}

}  // namespace

FramePtr NewFrame() {
  FramePtr frame(av_frame_alloc());
  if (!frame) throw std::bad_alloc();
  return frame;
}

PacketPtr NewPacket() {
  PacketPtr packet(av_packet_alloc());
  if (!packet) throw std::bad_alloc();
  return packet;
}

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

void QuietLibraryLogging() { av_log_set_callback(KeepLastError); }

std::string LastLibraryError() {
  std::lock_guard<std::mutex> lock(gLogMutex);
  return gLastError;
}

void ClearLastLibraryError() {
  std::lock_guard<std::mutex> lock(gLogMutex);
  gLastError.clear();
}

std::string Extension(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

bool IsMovieName(const std::string& path) {
  const std::string extension = Extension(path);
  return std::find(kMovieExtensions.begin(), kMovieExtensions.end(), extension) != kMovieExtensions.end();
}

}  // namespace lenstrove::cli::movie
