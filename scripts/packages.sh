# The Debian packages the program and its tests need. Sourced by the other scripts.
RUN_PACKAGES="build-essential cmake ninja-build pkg-config qt6-base-dev libfluidsynth-dev
  librtmidi-dev libpulse-dev libpipewire-0.3-dev libasound2-dev libsystemd-dev timgm6mb-soundfont
  fonts-ipafont-gothic librsvg2-bin qt6-translations-l10n libxcb-xkb-dev libjack-jackd2-dev
  libportsmf-dev libpugixml-dev libzip-dev"
TEST_PACKAGES="libgtest-dev libbenchmark-dev xvfb xauth xdotool x11-apps imagemagick sox
  poppler-utils clang libclang-rt-14-dev x11-utils man-db groff-base bsdextrautils
  desktop-file-utils appstream lintian abcmidi at-spi2-core python3-pyatspi dbus-daemon
  libglib2.0-bin time pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber
  jackd2 python3-jack-client librtmidi-dev libjack-jackd2-dev orca speech-dispatcher openbox
  rtkit polkitd python3-mido"

# Installs whichever of the given packages are missing, without recommends.
install_missing() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
            missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    # Installing jackd2 replaces the JACK headers, and apt then removes RtMidi's headers unless
    # they are asked for in the same command.
    case " ${missing[*]} " in
    *" jackd2 "* | *" libjack-jackd2-dev "*) missing+=(librtmidi-dev libjack-jackd2-dev) ;;
    esac
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -qq
    # On CI's machine, made for this one run and thrown away after it, without a sync of each file
    # unpacked (as in Debian's container images): a third less time where some 800 packages come
    # at once. Never on a machine of someone's own, where a crash in the middle could leave a
    # system file empty.
    local unsafe=()
    [ -n "${MURUTEKA_DISPOSABLE_MACHINE:-}" ] && unsafe=(-o Dpkg::Options::=--force-unsafe-io)
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
        "${unsafe[@]}" "${missing[@]}"
}
