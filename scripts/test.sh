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
# The whole suite once more under AddressSanitizer and UndefinedBehaviorSanitizer, stopping at
# the first error either finds. (With the sanitizers GCC warns of uninitialised values inside
# the standard library's <regex> that are not there.)
sanitize="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake -S . -B build-asan -G Ninja -DBUILD_TESTING=ON \
    -DCMAKE_CXX_FLAGS="$sanitize -Wno-maybe-uninitialized" >/dev/null
cmake --build build-asan -j2
ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    ctest --test-dir build-asan -j2 --output-on-failure
