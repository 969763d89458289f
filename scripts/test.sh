#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
install_missing $RUN_PACKAGES $TEST_PACKAGES
cmake -S . -B build-test -G Ninja -DBUILD_TESTING=ON >/dev/null
cmake --build build-test -j2
# The music-file reader takes untrusted files: fuzz it for a bounded time first.
fuzz/run.sh "${FUZZ_SECONDS:-30}"
(cd build-test && ctest -j2 --output-on-failure)
# The Debian package, validated and run unpacked (never installed on this machine).
scripts/check-package.sh build-test
