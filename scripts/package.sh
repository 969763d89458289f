#!/usr/bin/env bash
# Installs what is missing, builds, and makes the Debian package build/muruteka_<version>_<arch>.deb.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
install_missing $RUN_PACKAGES
cmake -S . -B build -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j2
cd build
cpack -G DEB
