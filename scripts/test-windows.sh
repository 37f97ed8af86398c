#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The Windows build and its tests: the mingw-w64 cross build (preset
# "windows": nubocodec.dll, nubo.exe, NUBOCONV.exe), every test program run
# as .exe under Wine (codec, converter, OS layer, window logic; the nubo
# command-line and safety checks against nubo.exe; NUBOCONV.exe's real window
# on a virtual display, compared with the Linux build in build/release when
# it is there), then the zip for users, unpacked and run from its own folder.
# Prints how long it took.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
start=$(date +%s)
jobs=$(nproc)
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs"
ctest --preset windows -j "$jobs"
cmake --build --preset windows --target windows_zip
zip=$(ls build/windows/nubo-*-windows-x86_64.zip)
version=$(sed -n 's/^project(nubo VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
bash tests/windows/zip_check.sh "$zip" build/windows/zip_check x86_64-w64-mingw32-objdump x86_64-w64-mingw32-windres "$version"
echo "Windows build and tests: $(($(date +%s) - start)) s; zip for users: $zip"
