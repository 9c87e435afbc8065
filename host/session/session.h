#ifndef LENSTROVE_SESSION_SESSION_H
#define LENSTROVE_SESSION_SESSION_H

// The render session: any OpenFX filter applied to pictures held in memory,
// through the project's host library. The lenstrove command is a front end
// over it; it is made for others, a Python module among them, alike.
//
//   session::Plugin blur("org.example.Blur");          // identifier, .ofx file or bundle
//   session::Instance instance = blur.NewInstance();
//   instance.Set("Radius", 3.0);                        // warnings for clamped values
//   instance.Render(source, output, 0.0);               // Pictures over the caller's pixels
//
// Every failure is a session::Error. A Plugin may be used from several
// threads: each thread renders through its own Instance, and renders are
// held to one at a time where the plug-in's thread safety asks for it.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "session/description.h"
#include "session/error.h"
#include "session/picture.h"
#include "session/search.h"
#include "session/values.h"
#include "session/windows.h"

namespace lenstrove::session {

class Instance;

class Plugin {
 public:
  // `which` is an identifier, looked up in the options' folders, or a .ofx
  // file or .ofx.bundle folder. The binary is scanned first (see search.h);
  // then only it is loaded into this process, started and described. The
  // same plug-in opened again is shared, not loaded twice. Throws Error for
  // a plug-in that is unknown, or that failed its scan, to load or to
  // describe itself.
  explicit Plugin(const std::string& which, const SearchOptions& options = DefaultSearchOptions());
  ~Plugin();
  Plugin(const Plugin&);
  Plugin& operator=(const Plugin&);

  const PluginDescription& Description() const;

  // An instance in the context filters render in: the filter context, or a
  // general one with a Source and an Output clip whose other clips may stay
  // unconnected. Throws Error when the plug-in has neither, or refuses to
  // make an instance. Safe to call from several threads.
  Instance NewInstance() const;

  struct Loaded;  // the plug-in in this process; instances keep it there

 private:
  std::shared_ptr<Loaded> loaded_;
  std::string self_;
};

// Another frame of what is being rendered, for a plug-in that fetches its
// source at other times: the picture, and what keeps its pixels alive.
struct HeldPicture {
  Picture picture;
  std::shared_ptr<const void> owner;
};
// Called from the plug-in's threads with the time it asks for and the
// source's sample type; nothing for a time there is no frame at, which
// fails the plug-in's fetch. An exception fails the render with its text.
using FrameSource = std::function<std::optional<HeldPicture>(double time, SampleType sample)>;

// Where a render writes: given the data window the output covers (the
// source's, or grown as AllowGrowth permits), a picture of that width and
// height. It lies in the source's frame, with the source's alpha state;
// its sample type and channels may differ from the source's.
using OutputMaker = std::function<Picture(const PixelRect& window)>;

// One instance of the plug-in, with its own parameter values. Use it from
// one thread at a time; instances of one plug-in render side by side.
class Instance {
 public:
  Instance(Instance&&) noexcept;
  Instance& operator=(Instance&&) noexcept;
  ~Instance();  // tells the plug-in the instance is destroyed

  const PluginDescription& Description() const;

  // Sets a parameter and tells the plug-in, as when a user edits it. The
  // warnings name values clamped into the declared range. Positions and
  // sizes are given in pixels of the frame rendered. Throws Error naming
  // the parameter for a value it cannot take (see values.h).
  std::vector<std::string> Set(const std::string& name, const Value& value);
  std::vector<std::string> SetKeys(const std::string& name, const Keys& keys);
  // Settings already checked, each set and told as above.
  void Apply(const std::vector<ResolvedSetting>& settings);

  // The first and last frame times of the render, for plug-ins that ask.
  void SetFrameRange(double first, double last);
  // Where a plug-in that declares temporal clip access gets other frames;
  // without one it gets only the frame rendered.
  void SetFrameSource(FrameSource source);
  // Receives the plug-in's progress through a frame, 0 to 1, from any of
  // its threads.
  void SetProgressListener(std::function<void(double)> listener);
  // Lets the output follow the plug-in's region of definition where it
  // reaches beyond the source, up to `pixelLimit` pixels in all; a larger
  // region fails the render, its message naming `limitName` as the way to
  // raise the limit. Until this is called the output keeps the source's
  // data window, as a movie's frames must.
  void AllowGrowth(std::int64_t pixelLimit, const std::string& limitName = "");

  // Renders `source` at `time`, one render call per window (all of it for
  // none); the source's own pixels are always rendered. The plug-in is
  // offered the source's depth when it declares it, else the first it
  // declares of float, half, short and byte, and the source's components
  // when its clip takes them, else RGBA; what it asks for in its clip
  // preferences is converted to and from. Throws Error when the plug-in
  // answers an error, with its own message.
  void Render(const Picture& source, const OutputMaker& output, double time,
              const std::vector<RenderWindow>& windows = {});
  // Into `output`, which must cover the source's data window.
  void Render(const Picture& source, const Picture& output, double time,
              const std::vector<RenderWindow>& windows = {});

  class Impl;

 private:
  friend class Plugin;
  explicit Instance(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace lenstrove::session

#endif
