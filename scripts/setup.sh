#!/usr/bin/env bash
# From a fresh Debian machine to the demo pictures: installs what is needed,
# builds the plug-in, the command and the Python module, installs the bundle
# into the build tree, makes the module importable by /usr/bin/python3 and
# renders every aid over the bundled sample photographs.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"
cmake --install build --prefix build/install >/dev/null
echo "Installed bundle: build/install/OFX/Plugins/QelLenstrove.ofx.bundle"

# The module stays in the build tree, where it finds the build's bundle and
# scanner as the command does; a path file in the user's site folder puts
# it on /usr/bin/python3's path without touching the system's folders.
site=$(/usr/bin/python3 -m site --user-site)
mkdir -p "$site"
echo "$PWD/build/python" >"$site/lenstrove-build.pth"
(cd / && /usr/bin/python3 -c "import lenstrove")
echo "Python module: import lenstrove (build/python, through $site/lenstrove-build.pth)"

export OFX_PLUGIN_PATH="$PWD/build/install/OFX/Plugins"
build/cli/lenstrove describe
build/cli/lenstrove demo build/demo
