#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Installs the Debian packages that the build, the tests and the example need,
# when any is missing. Uses sudo when not run as root.
# Usage: scripts/deps.sh [example]
#   example: only what scripts/run-example.sh needs (the compiler, CMake and
#   Ninja, CLI11 for nubo, sox for the example's audio); without it, everything
#   scripts/test.sh needs.
set -euo pipefail
example_packages=(cmake ninja-build g++ libcli11-dev sox)
packages=(
  cmake ninja-build g++ make pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev
  libfltk1.3-dev libx11-dev fonts-dejavu-core
  clang libclang-rt-14-dev
  xvfb xauth xdotool imagemagick openbox x11-utils   # the window tests: a virtual display with a window manager
  sox flac parallel libflac-dev nettle-dev
  dpkg-dev file groff-base   # file kinds in the install checks; man page checks
  debhelper dh-python lintian fakeroot   # the Debian packages (dpkg-buildpackage), scripts/check-debs.sh
  desktop-file-utils shared-mime-info xdg-utils libfile-mimeinfo-perl   # desktop entry and .NAB MIME type checks
  bash-completion   # the completion test
  g++-mingw-w64-x86-64-posix wine64   # the Windows cross build and its tests under Wine
  libgstreamer1.0-dev libgstreamer-plugins-base1.0-dev gstreamer1.0-tools gstreamer1.0-plugins-base gstreamer1.0-plugins-base-apps
  gstreamer1.0-plugins-good   # the GStreamer plug-in and its tests (wavenc, decodebin, gst-discoverer-1.0)
  python3-dev python3-numpy python3-pytest bc   # the Python module, its tests and its bench
)
if [[ ${1:-} == example ]]; then
  packages=("${example_packages[@]}")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # apt's own chatter goes to a log, shown when the install fails.
  log=$(mktemp /tmp/nubo-deps.XXXXXX)
  $sudo apt-get update -qq >"$log" 2>&1 || true
  if ! $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >>"$log" 2>&1; then
    cat "$log" >&2
    exit 1
  fi
  rm -f "$log"
fi
