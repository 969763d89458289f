#!/usr/bin/env bash
# Installs what is missing, builds, and starts the program. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
install_missing $RUN_PACKAGES
cmake -S . -B build -G Ninja -DBUILD_TESTING=OFF >/dev/null
cmake --build build -j2
exec ./build/src/app/muruteka "$@"
