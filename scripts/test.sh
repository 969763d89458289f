#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the end-to-end tests and the package in a
# normal build, then the whole suite under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
# shellcheck disable=SC2086
install_missing $RUN_PACKAGES $TEST_PACKAGES

# The normal build: the program, its data, and what the end-to-end tests run (the files their
# commands name); the unit-test programs are built once, under the sanitizers below. The package
# takes what is built instead of building everything.
# Both builds compile each target's sources as one unit (CMake's unity build): the Qt and
# GoogleTest headers are then read once a target, not once a file. Builds of your own stay one
# file a unit, so that a change recompiles only its file.
cmake -S . -B build-test -G Ninja -DBUILD_TESTING=ON -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON \
    -DCMAKE_UNITY_BUILD=ON >/dev/null
ninja -C build-test -t targets all >build-test/targets.txt
# shellcheck disable=SC2046
cmake --build build-test -j2 --target $(ctest --test-dir build-test -R '^e2e\.' --show-only=json-v1 |
    python3 -c '
import json, os, sys
build = os.path.realpath("build-test")
known = {line.split(": ")[0] for line in open("build-test/targets.txt")}
wanted = {t for t in known if t.endswith("/all") and not t.startswith("tests/")}
for test in json.load(sys.stdin)["tests"]:
    for word in test.get("command", []):
        if os.path.relpath(word, build) in known: wanted.add(os.path.relpath(word, build))
print(" ".join(sorted(wanted)))')
# Resident memory and note timing are measured here, without the sanitizers.
ctest --test-dir build-test -R '^e2e\.' -j2 --output-on-failure

# The music-file, MIDI file and MusicXML readers take untrusted files: each fuzzed for FUZZ_SECONDS
# (30 in all), two at a time once built. Meanwhile the Debian package is validated and run
# unpacked (never installed on this machine), which is over in seconds, before the fuzzing starts.
fuzz/run.sh "${FUZZ_SECONDS:-10}" 2 >build-test/fuzz.log 2>&1 &
fuzzing=$!
scripts/check-package.sh build-test
wait "$fuzzing" || { cat build-test/fuzz.log; exit 1; }
cat build-test/fuzz.log

# The whole suite under AddressSanitizer and UndefinedBehaviorSanitizer, stopping at the first
# error either finds. (With the sanitizers GCC warns of uninitialised values inside the standard
# library's <regex> that are not there.) Debug information at level 1: the line tables that their
# stack traces need, without the descriptions of variables, which no report of theirs reads.
sanitize="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
cmake -S . -B build-asan -G Ninja -DBUILD_TESTING=ON -DCMAKE_UNITY_BUILD=ON \
    -DCMAKE_CXX_FLAGS="$sanitize -Wno-maybe-uninitialized" -DMURUTEKA_TEST_COMPILE_OPTIONS=-O0 \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
cmake --build build-asan -j2
ASAN_OPTIONS=halt_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp" \
    ctest --test-dir build-asan -j2 --output-on-failure
