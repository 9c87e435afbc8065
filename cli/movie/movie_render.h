#pragma once

// `lenstrove render` when the input or the output is a movie: movie to
// movie, movie to image sequence (or one still), and image sequence to
// movie, all through the streaming frame pipeline.

#include <vector>

#include "color/colour_pipeline.h"
#include "interface/arguments.h"
#include "render/parameter_values.h"
#include "render/plugin_session.h"

namespace lenstrove::cli::movie {

// True when either name is a movie file's.
bool InvolvesMovie(const RenderCommand& command);

// Throws std::runtime_error naming the fault; leaves no output movie
// behind when it does.
// `colour`, when given, converts each picture for the aids and back.
void RunMovieRender(LoadedPlugin& plugin, const RenderCommand& command, const std::vector<ResolvedSetting>& settings,
                    const color::ColourPipeline* colour);

}  // namespace lenstrove::cli::movie
