#!/usr/bin/env bash
# Framelog's one set-up step, shared by ./run.sh, ./test.sh and CI:
# install the Debian packages that are missing, then configure and build.
#
#   scripts/setup.sh [BUILD_DIR [extra cmake options...]]
#
# When everything is present it installs nothing and builds incrementally.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD_DIR="${1:-$ROOT/build}"
shift || true

PACKAGES=(
    cmake ninja-build g++
    qt6-base-dev qt6-declarative-dev qt6-webengine-dev libgl-dev qt6-qpa-plugins
    pkg-config libxcb1-dev
    libjpeg62-turbo-dev
    # framelog-timelapse, and ffmpeg/ffprobe for its tests and benchmark and
    # the resting benchmark's live HLS camera
    libavformat-dev libavcodec-dev libswscale-dev libavutil-dev ffmpeg
    fonts-dejavu-core
    desktop-file-utils appstream groff-base
    dpkg-dev file
    # the recorder speaks systemd's notify protocol (READY, STATUS, watchdog)
    libsystemd-dev
    # what administrators' tools say of the package, the manual pages and
    # the user unit (systemd-analyze)
    lintian mandoc systemd
    # tests and benchmarks on an X server of their own (xprop reads what the
    # window manager sees), OpenGL through Mesa
    xvfb xauth x11-utils libgl1-mesa-dri
    # tests' local servers (Python's standard library): cameras with logins
    # and a self-signed certificate (openssl), WebRTC and feed servers
    python3 openssl
)

fail() { echo "setup: $*" >&2; exit 1; }

missing=()
for pkg in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done

if ((${#missing[@]})); then
    echo "setup: installing ${missing[*]}"
    SUDO=()
    if [[ $(id -u) -ne 0 ]]; then
        command -v sudo >/dev/null || fail "need root or sudo to install: ${missing[*]}"
        SUDO=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${SUDO[@]}" apt-get update -qq || fail "apt-get update failed"
    "${SUDO[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" \
        || fail "could not install: ${missing[*]}"
fi

if [[ ! -f "$BUILD_DIR/build.ninja" ]]; then
    cmake -S "$ROOT" -B "$BUILD_DIR" -G Ninja "$@" || fail "cmake configure failed"
fi
cmake --build "$BUILD_DIR" || fail "build failed"
