#!/usr/bin/env bash
# Builds the Debian package in the given build folder and proves it without installing it:
# lintian, the desktop-entry, AppStream and manual-page validators on the packaged files, then
# the program unpacked into a scratch folder: its version, every song it brings checked, and
# its key layout printed to a PDF.
set -euo pipefail
BUILD="$(cd "${1:?usage: check-package.sh BUILD_FOLDER}" && pwd)"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
fail() {
    echo "package check FAILED: $*" >&2
    exit 1
}

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD/CMakeCache.txt")
app_id=$(sed -n 's/^set(MURUTEKA_APP_ID \(.*\))$/\1/p' "$(dirname "$0")/../CMakeLists.txt")
[ -n "$version" ] && [ -n "$app_id" ] || fail "no version or application id"
deb="$BUILD/muruteka_${version}_$(dpkg --print-architecture).deb"
rm -f "$deb"
(cd "$BUILD" && cpack -G DEB >/dev/null) || fail "cpack -G DEB"
[ -f "$deb" ] || fail "cpack made no $(basename "$deb")"
dpkg-deb -I "$deb" | sed -n '/^ Package:/p;/^ Version:/p;/^ Depends:/p;/^ Installed-Size:/p'
echo " Size: $(stat -c %s "$deb") bytes"
depends=$(dpkg-deb -f "$deb" Depends)
for needed in "timgm6mb-soundfont | fluid-soundfont-gm" fonts-ipafont-gothic \
    qt6-translations-l10n libqt6widgets6 libfluidsynth3; do
    grep -qF "$needed" <<<"$depends" || fail "Depends lacks $needed: $depends"
done

lintian --fail-on error,warning "$deb" || fail "lintian"

root="$WORK/root"
dpkg-deb -x "$deb" "$root"
desktop="$root/usr/share/applications/$app_id.desktop"
metainfo="$root/usr/share/metainfo/$app_id.metainfo.xml"
for file in "$desktop" "$metainfo" "$root/usr/share/man/man1/muruteka.1.gz" \
    "$root/usr/share/icons/hicolor/scalable/apps/$app_id.svg"; do
    [ -f "$file" ] || fail "the package has no ${file#"$root"}"
done
for size in 16 32 48 64 128 256; do
    png="$root/usr/share/icons/hicolor/${size}x$size/apps/$app_id.png"
    [ "$(identify -format %wx%h "$png" 2>/dev/null)" = "${size}x$size" ] ||
        fail "no ${size} px icon"
done

# Clean means no hints either: a hint such as "more than one main category" shows in menus.
desktop-file-validate "$desktop" > "$WORK/desktop.log" 2>&1 || true
if grep -E '(error|warning|hint):' "$WORK/desktop.log"; then fail "desktop-file-validate"; fi
appstreamcli validate --no-net "$metainfo" > "$WORK/appstream.log" 2>&1 ||
    { cat "$WORK/appstream.log"; fail "appstreamcli validate"; }
if grep -E '^[EWI]:' "$WORK/appstream.log"; then fail "appstreamcli validate"; fi
for locale in C.UTF-8 C; do
    man_warnings=$(LC_ALL=$locale man --warnings -l "$root/usr/share/man/man1/muruteka.1.gz" 2>&1 \
        >/dev/null)
    [ -z "$man_warnings" ] || fail "man --warnings in $locale: $man_warnings"
done

program="$root/usr/bin/muruteka"
export XDG_RUNTIME_DIR="$WORK/runtime"
mkdir -m 700 "$XDG_RUNTIME_DIR"
[ "$("$program" --version)" = "$version" ] || fail "--version does not say $version"
songs=0
for song in "$root/usr/share/muruteka/songs/"*.txt; do
    findings=$("$program" --check "$song") || fail "--check ${song#"$root"}: $findings"
    [ -z "$findings" ] || fail "--check ${song#"$root"}: $findings"
    songs=$((songs + 1))
done
[ "$songs" -ge 10 ] || fail "only $songs songs in the package"
env -u DISPLAY -u WAYLAND_DISPLAY "$program" --print-layout "$WORK/layout.pdf" 2>/dev/null ||
    fail "--print-layout"
[ "$(head -c 5 "$WORK/layout.pdf")" = "%PDF-" ] || fail "--print-layout wrote no PDF"
echo "package check: $(basename "$deb"): lintian, desktop entry, AppStream, manual page," \
    "--version, $songs songs, printed layout: ok"
