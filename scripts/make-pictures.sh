#!/usr/bin/env bash
# Redraws the six pictures and the icon into the source tree with our own
# picture-maker (Earth from NASA's Blue Marble map in xplanet-images).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build --preset default --target picture-maker
./build/bin/picture-maker .
chmod 644 pictures/share/orbitale/drives/E/VB/* data/icons/* data/windows/orbitale.ico
echo "pictures redrawn: pictures/share/orbitale/drives/E/VB, data/icons, data/windows/orbitale.ico"
