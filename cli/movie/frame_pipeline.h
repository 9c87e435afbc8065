#pragma once

// A streaming render: frames are produced one at a time in order, rendered
// by a pool of workers (each with its own plug-in instance and scratch
// state) and handed on in their original order. At most a fixed number of
// frames are in flight at once, however long the clip, so memory stays flat.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "av_support.h"
#include "render/plugin_session.h"

namespace lenstrove::cli::movie {

struct FrameJob {
  std::int64_t number = 0;  // the frame number: render time and sequence number
  std::int64_t pts = 0;     // where the frame sits in an output movie
  FramePtr decoded;         // a movie's picture, or
  std::string inputPath;    // an image file
  std::string outputPath;   // an image file to write, or
  FramePtr encoded;         // a picture for an output movie
};

struct PipelineStages {
  // On the calling thread: fills the next job; false at the end.
  std::function<bool(FrameJob&)> next;
  // On a worker thread, with that worker's index (0..workers-1).
  std::function<void(FrameJob&, int worker)> work;
  // On one delivery thread, in the order `next` produced the jobs.
  std::function<void(FrameJob&)> deliver;
};

// Runs the stages with `workers` render threads and at most `inFlight`
// jobs between `next` and the end of `deliver`. The first exception of any
// stage stops the others and is rethrown here.
void RunPipeline(const PipelineStages& stages, int workers, int inFlight);

}  // namespace lenstrove::cli::movie
