#!/usr/bin/env bash
# Builds the release preset and runs the codec over a bundled example: 60 s of
# synthetic CD-quality stereo music, encoded, decoded and compared bit for bit
# with every coder version, printing the ratio and speed each reached.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)"
build/release/bin/codec_bench "$@"
