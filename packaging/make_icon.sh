#!/bin/sh
# Draws the plug-in's 128x128 icon with oiiotool (openimageio-tools): a
# frame with 2.39:1 bars, thirds lines, a skin-tone band and a gray band,
# the aids the plug-in draws. Run it from anywhere; it rewrites the PNG
# beside this script. The PNG is committed, so builds do not need oiiotool.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
oiiotool --pattern fill:top=0.16,0.30,0.46,1:bottom=0.55,0.42,0.30,1 128x128 4 \
  --box:color=0.62,0.62,0.62,1:fill=1 8,24,119,35 \
  --box:color=0.76,0.59,0.51,1:fill=1 8,84,63,95 \
  --box:color=0.45,0.32,0.27,1:fill=1 64,84,119,95 \
  --line:color=1,1,1,1 42,0,42,127 --line:color=1,1,1,1 43,0,43,127 \
  --line:color=1,1,1,1 85,0,85,127 --line:color=1,1,1,1 86,0,86,127 \
  --line:color=1,1,1,1 0,42,127,42 --line:color=1,1,1,1 0,43,127,43 \
  --line:color=1,1,1,1 0,85,127,85 --line:color=1,1,1,1 0,86,127,86 \
  --box:color=0,0,0,1:fill=1 0,0,127,11 \
  --box:color=0,0,0,1:fill=1 0,116,127,127 \
  --text:x=64:y=74:size=30:color=1,1,1,1:xalign=center:font=DejaVuSans-Bold "Qel" \
  -d uint8 -o "$here/com.Qel.Lenstrove.V111.png"
