// The words of `lenstrove --help` and `lenstrove help COMMAND`.

#include "interface/arguments.h"

namespace lenstrove::cli {
namespace {

constexpr const char* kOverview = R"(lenstrove - run OpenFX filter plug-ins over image files

Usage:
  lenstrove list
  lenstrove describe [PLUGIN]
  lenstrove render [OPTIONS] IN OUT [NAME=VALUE ...]
  lenstrove submit slurm [OPTIONS] -- render [OPTIONS] IN OUT [NAME=VALUE ...]
  lenstrove demo [OPTIONS] [FOLDER]
  lenstrove help [COMMAND]
  lenstrove --version

Commands:
  list       the plug-ins found in OFX_PLUGIN_PATH, /usr/OFX/Plugins and
             the build tree, with identifier, version and label
  describe   a plug-in's label, grouping, contexts, depths, clips and
             parameters (default: Qel Lenstrove)
  render     apply a plug-in to an image or a numbered sequence
  submit     hand a render to a Slurm farm as an array job
  demo       render the sample photographs with each aid, plus a contact
             sheet, and print where they are

PLUGIN is an identifier (com.Qel.Lenstrove.V111), a .ofx file or a
.ofx.bundle folder. 'lenstrove help COMMAND' tells more about a command.
)";

constexpr const char* kRenderHelp = R"(Usage: lenstrove render [OPTIONS] IN OUT [NAME=VALUE ...]

Applies a filter plug-in to IN and writes OUT, in the format OUT's name asks
for (PNG, JPEG, TIFF, OpenEXR, DPX, ...). For a numbered sequence put #
signs (one per digit, shot.####.exr) or a printf field (shot.%04d.exr) in
both names; each frame's number is its render time.

Movies (.mov, .mp4, .mxf, .mkv, .avi, ...) go in and out through FFmpeg's
libraries: movie to movie, movie to sequence or still, sequence to movie.
A movie's frames are numbered from 0 (frame 0 is the first picture, at the
start timecode); that number is the render time and a sequence's number.
The output keeps the frame rate, time base, pixel aspect, colour tags and
start timecode (moved on by the first frame of --frames), and every audio
stream, copied untouched where the container can hold it (see --audio).

Parameters (see 'lenstrove describe' for names, types and ranges):
  NAME=VALUE           set a parameter; values outside its range are
                       clamped with a warning. By type:
                         switch          on/off, true/false, yes/no or 1/0
                         integer, double a number: 3, 0.25
                         2D, 3D          X,Y or X,Y,Z: 1920,1080
                         RGB, RGBA       R,G,B or R,G,B,A: 1,0.5,0 (RGBA
                                         given R,G,B is opaque)
                         choice          an option's number (from 0) or label
                         string, custom  the text as given, ':' and ','
                                         included; NAME= is empty text
                       Positions and sizes are in pixels of the frame, also
                       for parameters whose plug-in reads fractions of it.
  NAME@TIME=VALUE      a key: VALUE at TIME, once per key, for any type that
                       animates; numbers and colours are interpolated
                       between keys, switches, choices and text hold
  NAME=T:V,T:V,...     keys of a double: value V at time T

Options:
  -p, --plugin PLUGIN  the plug-in (default com.Qel.Lenstrove.V111)
  -f, --frames A-B     frames of a sequence (default: every frame on disk);
                       A-BxS takes every S-th frame from A
      --time T         render time of a single image (default 0)
  -d, --depth D        byte, float or auto (default auto: byte for 8-bit
                       files, float for 16-bit, half and float files)
  -t, --tiles N        split each frame into N render windows (default 1)
  -j, --jobs N         frames rendered at once, one plug-in instance each
                       (default: the number of processor cores); for movies
                       also the decoder's and the encoder's threads
  -q, --quiet          no progress bar (there is none unless standard error
                       is a terminal)
      --max-pixels N   refuse larger images (default 100000000)
      --part NAME      the part of a multi-part file to render (default: the
                       RGBA part, else the first); the others are copied
      --compression C  the output's compression, NAME or NAME:LEVEL (zip,
                       piz, dwaa:45, lzw, ...; default: the input's)
      --chunk K/N      render only the K-th of N contiguous, near-equal
                       chunks of the frames (K from 1); 'auto' takes K and
                       N from a Slurm array job's environment
      --skip-existing  leave out frames whose output file exists: outputs
                       appear only when complete, so a rerun renders just
                       what is missing
      --fit WxH        scale the picture to fit inside W x H pixels before
                       the plug-in runs (so the aids are drawn at that size),
                       keeping its display aspect (pixel aspect counted);
                       square pixels out, even sizes where the codec needs
                       them; for movies, sequences and stills

Everything else the input holds is kept: its display and data windows,
channels beyond RGBA, other parts and every attribute, as far as the output
format can hold them; what it cannot is named in a warning.

Exit status: 0 when every frame is done, 1 when one failed (one line on
standard error says why), 2 for a malformed command line.

Movie output:
      --codec C        prores_proxy, prores_lt, prores, prores_hq,
                       prores_4444, dnxhr_lb, dnxhr_sq, dnxhr_hq,
                       dnxhr_hqx, dnxhr_444, h264, h265 or ffv1 (lossless);
                       default: the input movie's codec, else ProRes HQ
                       for .mov, DNxHR HQ for .mxf, H.264 for .mp4 and
                       FFV1 for the rest
      --quality Q      CRF for h264/h265 (lower is better, 18 is near
                       transparent), quantiser for ProRes (lower is better)
      --bitrate R      bits per second: 50M, 800k, ...
      --fps F          rate of a sequence made into a movie: 24, 25,
                       23.976, 24000/1001 (default 24)
      --audio A        the source movie's audio streams: copy (untouched;
                       fails when the container cannot hold them), encode
                       (to the container's usual codec: AAC for .mp4, PCM
                       for .mov, .mxf and .mkv), or none (left out). Default:
                       copied where the container can hold them, else
                       encoded, with a note. Every stream keeps its sample
                       rate and channels; with --frames the audio is cut to
                       the same span (to the sample when encoded)

Colour management (off unless --colorspace is given; $OCIO or built-in
spaces: linear, sRGB, Rec709):
      --colorspace S   the input's colour space; the aids are drawn on the
                       picture converted into the display's view
      --display D      display of the $OCIO config (default: its default)
      --view V         view of that display (default: its default); with
                       no $OCIO config the display picture is sRGB
      --to S           the output's colour space: default the input's
                       (a linear plate stays linear), 'display' keeps the
                       display picture, or any colour space

Examples:
  lenstrove render in.png out.png GuideThirds=on CropOpacity=0.5
  lenstrove render -f 1-48 shot.####.exr guides.####.exr Crop239=on \
      CropOpacity=1:0,48:1
  lenstrove render -p org.example.Blur in.exr out.exr Centre@1=960,540 \
      Centre@48=200,540 Tint=1,0.9,0.8 Mode=Gaussian Label="Shot 12: take 3"
  lenstrove render clip.mov framed.mov --codec prores_hq GuideThirds=on
  lenstrove render -f 100-147 clip.mp4 frames.####.png Crop239=on
  lenstrove render cam.mov review.mp4 --fit 1280x720 GuideThirds=on Crop239=on
  lenstrove render --fps 23.976 shot.####.exr review.mp4 --colorspace linear \
      --to display --codec h264 --quality 18 FalseColorMode=on
)";

constexpr const char* kSubmitHelp = R"(Usage: lenstrove submit slurm [OPTIONS] -- render [OPTIONS] IN OUT [NAME=VALUE ...]

Submits the render to Slurm as an array job with one task per chunk of
frames, and prints the job id. Each task runs 'lenstrove render --chunk' on
its own chunk and logs to its own file. Relative names are resolved in the
current folder. Add --skip-existing to the render to resume a job.

Options:
      --chunk-size F     frames per task, at most (default 10)
      --partition P      these four are passed to sbatch as they are
      --time T
      --mem M
      --cpus-per-task C  also the frames each task renders at once
      --job-name NAME    the job's name (default lenstrove)
      --logs FOLDER      task logs and the job script (default lenstrove-logs)
  -n, --dry-run          print the job script instead of submitting it

Example:
  lenstrove submit slurm --chunk-size 10 --time 30:00 -- \
      render -f 1001-1400 plate.####.exr out.####.exr Crop239=on
)";

constexpr const char* kDescribeHelp = R"(Usage: lenstrove describe [PLUGIN]

Shows the plug-in's label, grouping, contexts, pixel depths and clips, and
its parameters in the order a host lists them: name, type, label, group,
default, range and whether it animates. PLUGIN defaults to Qel Lenstrove.
)";

constexpr const char* kListHelp = R"(Usage: lenstrove list

Lists the plug-ins found in the folders of OFX_PLUGIN_PATH (separated by
colons), in /usr/OFX/Plugins and in the build tree, with their identifier,
version, label and file.

Each plug-in binary is loaded and described in a child process, so one
that crashes or hangs is named on standard error and the others are still
listed:
  lenstrove: skipped PATH (ID): crashed while describing (signal 11)
What a scan found is kept per binary in $XDG_CACHE_HOME/lenstrove (or
~/.cache/lenstrove) until the binary changes. Each step of a scan may take
LENSTROVE_SCAN_TIME_LIMIT seconds (default 30).
)";

constexpr const char* kDemoHelp = R"(Usage: lenstrove demo [OPTIONS] [FOLDER]

Renders the sample photographs (astronaut.png, coffee.png) with each aid
of Qel Lenstrove, and a labelled contact sheet of them all, into FOLDER
(default ./lenstrove-demo), then prints where they are.

Options:
  -p, --plugin PLUGIN  the plug-in (default com.Qel.Lenstrove.V111)
      --data FOLDER    where the sample photographs are
  -j, --jobs N         pictures rendered at once
  -q, --quiet          no progress bar
)";

}  // namespace

std::string HelpText(const std::string& topic) {
  if (topic == "render") return kRenderHelp;
  if (topic == "describe") return kDescribeHelp;
  if (topic == "list") return kListHelp;
  if (topic == "demo") return kDemoHelp;
  if (topic == "submit") return kSubmitHelp;
  return kOverview;
}

}  // namespace lenstrove::cli
