#!/usr/bin/env bash
# Builds the plug-in for Linux x86-64, Windows x64 and Linux aarch64 and
# writes the release into dist/:
#   QelLenstrove.ofx.bundle   all three binaries, Info.plist and the icon
#   QelLenstrove-VERSION.zip  that bundle at the archive's root
#   lenstrove_VERSION_amd64.deb  the plug-in and the lenstrove command
#   lenstrove_VERSION_arm64.deb  the plug-in alone
# Uses the build trees the tests use (build, build-win64, build-aarch64),
# configuring them when missing; only the module and what packaging needs are
# built here.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
scripts/install-deps.sh

version=$(sed -n 's/^project(Lenstrove VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
dist=$PWD/dist
stage=$dist/stage
rm -rf "$dist"
mkdir -p "$stage"

# Configures (first time only) and builds a tree, then installs the plug-in
# stripped into the staging folder; the three installs share one bundle.
build_plugin() {
  local dir=$1; shift
  [ -f "$dir/build.ninja" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" --target QelLenstrove
  cmake --install "$dir" --component plugin --strip --prefix "$stage" >/dev/null
}

echo "== Linux x86-64"
build_plugin build
echo "== Windows x64"
build_plugin build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/windows-x64.cmake -DLENSTROVE_BUILD_CLI=OFF
echo "== Linux aarch64"
build_plugin build-aarch64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/linux-aarch64.cmake -DLENSTROVE_BUILD_CLI=OFF

mv "$stage/OFX/Plugins/QelLenstrove.ofx.bundle" "$dist/"
rm -rf "$stage"
for binary in Linux-x86-64 Win64 Linux-aarch64; do
  [ -f "$dist/QelLenstrove.ofx.bundle/Contents/$binary/QelLenstrove.ofx" ] || { echo "missing $binary binary" >&2; exit 1; }
done
(cd "$dist" && zip -qr -X "QelLenstrove-$version.zip" QelLenstrove.ofx.bundle)

echo "== Debian packages"
# The amd64 package holds the command too, so the whole native tree is built.
cmake --build build -j "$jobs"
(cd build && cpack -G DEB -B "$dist/cpack-amd64" >/dev/null)
(cd build-aarch64 && cpack -G DEB -B "$dist/cpack-arm64" >/dev/null)
mv "$dist"/cpack-*/*.deb "$dist/"
rm -rf "$dist"/cpack-*
ls -l "$dist"
