#!/bin/sh
# Renders the documentation pictures again with `lenstrove demo` and keeps
# them small: each aid on the astronaut portrait at half size (256x256),
# and the contact sheet of both photographs.
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
echo "pictures written to $here"
