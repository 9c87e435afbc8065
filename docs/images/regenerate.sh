#!/bin/sh
# Renders the documentation pictures again with `lenstrove demo` and keeps
# them small: each aid on the astronaut portrait at half size (256x256),
# the contact sheet of both photographs, and a frame of a rendered movie.
#   docs/images/regenerate.sh [path/to/lenstrove]   (default: build/cli/lenstrove)
# Needs openimageio-tools (oiiotool) for the resizing.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
command=${1:-$root/build/cli/lenstrove}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$command" demo "$work" --data "$root/data" --quiet > /dev/null
for picture in "$work"/astronaut-*.png; do
  oiiotool "$picture" --resize 256x256 -d uint8 -o "$here/$(basename "$picture")"
done
cp "$work/contact-sheet.png" "$here/contact-sheet.png"
# A frame of a rendered movie: the portrait made into a short H.264 clip,
# rendered into ProRes with the 2.39 bars fading in over the clip and the
# thirds drawn, and frame 24 taken back out of the ProRes file.
"$command" render -q -f 0-47 "$root/data/astronaut.png" "$work/clip.mp4" --codec h264 --quality 16
"$command" render -q "$work/clip.mp4" "$work/framed.mov" --codec prores_hq \
  Crop239=on CropOpacity=0:0,47:1 GuideThirds=on
"$command" render -q -f 24 "$work/framed.mov" "$work/movie-frame.png"
oiiotool "$work/movie-frame.png" --resize 256x256 -d uint8 -o "$here/movie-frame.png"
echo "pictures written to $here"
