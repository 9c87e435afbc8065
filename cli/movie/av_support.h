#pragma once

// Small pieces shared by the movie reader and writer: owning pointers for
// FFmpeg's objects and its error codes turned into words.

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
}

namespace lenstrove::cli::movie {

struct FrameFree {
  void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFree {
  void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct CodecContextFree {
  void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};

using FramePtr = std::unique_ptr<AVFrame, FrameFree>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFree>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFree>;

FramePtr NewFrame();
PacketPtr NewPacket();

// "Invalid data found when processing input" for an AVERROR code.
std::string AvErrorText(int code);

// The libraries print their own complaints on standard error; the command
// reports one line of its own instead, so they are kept quiet. The last
// error they logged is kept for that line.
void QuietLibraryLogging();
std::string LastLibraryError();
// Forgets the last error, so a refusal the command expected (a muxer
// probed for a codec it does not take) is not quoted for a later fault.
void ClearLastLibraryError();

// The lower-case file-name extension without its dot: "mov" for "A.MOV".
std::string Extension(const std::string& path);

// True for the names of movie files (.mov, .mp4, .mxf, .mkv, ...): these
// go through FFmpeg's libraries rather than the image-file code.
bool IsMovieName(const std::string& path);

}  // namespace lenstrove::cli::movie
