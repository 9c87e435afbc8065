#!/usr/bin/env bash
# From a fresh Debian machine to the demo pictures: installs what is needed,
# builds the plug-in and the command, installs the bundle into the build
# tree and renders every aid over the bundled sample photographs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
cmake --install build --prefix build/install >/dev/null
echo "Installed bundle: build/install/OFX/Plugins/QelLenstrove.ofx.bundle"

export OFX_PLUGIN_PATH="$PWD/build/install/OFX/Plugins"
build/cli/lenstrove describe
build/cli/lenstrove demo build/demo
