#ifndef LENSTROVE_SESSION_WINDOWS_H
#define LENSTROVE_SESSION_WINDOWS_H

// How a render is spread out: the windows one frame is rendered in (each
// a render call, at the same time when the plug-in is fully safe) and the
// workers frames are rendered by, each with an instance of its own.

#include <cstddef>
#include <vector>

#include "session/description.h"

namespace lenstrove::session {

// A rectangle of pixels counted from the picture's bottom-left pixel, y up
// as in OpenFX, x2 and y2 exclusive.
struct RenderWindow {
  int x1, y1, x2, y2;
};

// The frame split into `tiles` render windows covering every pixel once: a
// grid as square as the count allows (4 gives 2x2, 6 gives 2x3, 7 gives 7
// bands), never more windows than rows or columns allow.
std::vector<RenderWindow> SplitIntoWindows(int width, int height, int tiles);

// How many workers to start for this many tasks: `requested`, or one per
// processor core for 0, never more than there are tasks, at least one.
int WorkerCount(int requested, std::size_t taskCount);

// The same for this plug-in: one worker when its renders are unsafe, since
// they run one at a time whatever the plan.
int WorkersFor(const PluginDescription& plugin, int requested, std::size_t taskCount);
// The windows of a frame for this plug-in: the whole frame when it does
// not take tiles.
std::vector<RenderWindow> WindowsFor(const PluginDescription& plugin, int width, int height, int tiles);

}  // namespace lenstrove::session

#endif
