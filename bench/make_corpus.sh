#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Builds a corpus of real recordings for the encoder benches from the audio
# that Debian packages ship (desktop and notification sounds, spoken
# messages, instrument and drum samples, synthesized speech): 22 WAVE files,
# 16-bit, mono and stereo, 16-48 kHz sources at 22050-48000 Hz, about 9
# minutes in all, plus one 10-minute CD-quality stereo file made of all of
# them (for whole-process timings). The corpus stays out of git: this
# script makes it again.
#
# Usage: bench/make_corpus.sh [DIR]   (default: build/corpus)
# Needs sox and the packages below; as root it installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-build/corpus}
packages=(sox libsox-fmt-all espeak-ng sound-theme-freedesktop alsa-utils sound-icons oxygen-sounds gnome-audio lmms-common)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  if [ "$(id -u)" -ne 0 ]; then
    echo "needs the packages: ${missing[*]} (apt-get install, as root)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || true
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The audio files of a package whose path matches PATTERN, sorted, one a line;
# files that sox cannot read are left out.
files_of() {
  local package=$1 pattern=${2:-.}
  dpkg -L "$package" | grep -Ei '\.(wav|ogg|oga|flac)$' | grep -E -- "$pattern" | sort |
    while read -r f; do soxi "$f" >/dev/null 2>&1 && echo "$f"; done
}

# make NAME RATE CHANNELS FILE...: converts each file to RATE Hz, CHANNELS
# channels, 16 bits (no dither: the samples are the sources' own, only
# resampled or mixed) and joins them in order into NAME.wav.
make() {
  local name=$1 rate=$2 channels=$3
  shift 3
  local parts=() i=0 f
  for f in "$@"; do
    sox -D "$f" -b 16 -e signed-integer -r "$rate" -c "$channels" "$work/part$i.wav" 2>/dev/null
    parts+=("$work/part$i.wav")
    i=$((i + 1))
  done
  sox -D "${parts[@]}" "$out/$name.wav"
  rm -f "${parts[@]}"
  printf '%-28s %6s Hz  %s ch  %6.1f s\n' "$name.wav" "$rate" "$channels" "$(soxi -D "$out/$name.wav")"
}

# half FIRST|SECOND FILE...: the first or second half of a list.
half() {
  local which=$1
  shift
  local n=$# mid=$((($# + 1) / 2))
  if [ "$which" = first ]; then printf '%s\n' "${@:1:mid}"; else printf '%s\n' "${@:mid+1:n-mid}"; fi
}

mapfile -t freedesktop < <(files_of sound-theme-freedesktop)
mapfile -t oxygen < <(files_of oxygen-sounds)
mapfile -t gnome < <(files_of gnome-audio)
mapfile -t alsa < <(files_of alsa-utils)
mapfile -t icons < <(files_of sound-icons)
lmms() { files_of lmms-common "/samples/$1/"; }

mapfile -t a < <(half first "${freedesktop[@]}"); make freedesktop-1 48000 2 "${a[@]}"
mapfile -t a < <(half second "${freedesktop[@]}"); make freedesktop-2 48000 2 "${a[@]}"
make alsa-speech 48000 1 "${alsa[@]}"
make sound-icons 22050 1 "${icons[@]}"
q=$(((${#oxygen[@]} + 3) / 4))
make oxygen-1 48000 2 "${oxygen[@]:0:q}"
make oxygen-2 48000 2 "${oxygen[@]:q:q}"
make oxygen-3 44100 2 "${oxygen[@]:2*q:q}"
make oxygen-4 32000 2 "${oxygen[@]:3*q}"
make gnome-audio 44100 2 "${gnome[@]}"
mapfile -t a < <(lmms basses); make lmms-basses 44100 2 "${a[@]}"
mapfile -t a < <(lmms bassloops); make lmms-bassloops 44100 2 "${a[@]}"
mapfile -t a < <(lmms beats); make lmms-beats 22050 1 "${a[@]}"
mapfile -t d < <(lmms drums)
mapfile -t a < <(half first "${d[@]}"); make lmms-drums-1 44100 1 "${a[@]}"
mapfile -t a < <(half second "${d[@]}"); make lmms-drums-2 44100 2 "${a[@]}"
mapfile -t a < <(lmms effects); make lmms-effects 44100 2 "${a[@]}"
mapfile -t d < <(lmms instruments)
mapfile -t a < <(half first "${d[@]}"); make lmms-instruments-1 44100 1 "${a[@]}"
mapfile -t a < <(half second "${d[@]}"); make lmms-instruments-2 44100 2 "${a[@]}"
mapfile -t a < <(lmms latin); make lmms-latin 44100 2 "${a[@]}"
mapfile -t a < <(lmms misc); make lmms-misc 32000 2 "${a[@]}"
mapfile -t a < <(lmms stringsnpads); make lmms-strings-pads 44100 2 "${a[@]}"

# Speech: espeak-ng reading the first lines of two licence texts.
head -c 2500 /usr/share/common-licenses/GPL-3 > "$work/en.txt"
head -c 1500 /usr/share/common-licenses/Apache-2.0 > "$work/en2.txt"
espeak-ng -v en -f "$work/en.txt" -w "$work/speech1.wav"
espeak-ng -v en-us -s 150 -f "$work/en2.txt" -w "$work/speech2.wav"
make espeak-1 22050 1 "$work/speech1.wav"
make espeak-2 24000 1 "$work/speech2.wav"

# Whole-process timings: 10 minutes of CD-quality stereo made of the corpus
# itself, repeated as often as needed.
mapfile -t all < <(ls "$out"/*.wav | grep -v '/long-')
make long-stereo-10min-full 44100 2 "${all[@]}" >/dev/null
sox -D "$out/long-stereo-10min-full.wav" "$out/long-stereo-10min.wav" repeat 2 trim 0 600
rm -f "$out/long-stereo-10min-full.wav"
printf '%-28s %6s Hz  %s ch  %6.1f s\n' long-stereo-10min.wav 44100 2 "$(soxi -D "$out/long-stereo-10min.wav")"
