#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# The GStreamer plug-in from the build tree (GST_PLUGIN_PATH), as a user
# runs it: gst-launch-1.0's pipeline to WAVE against `nubo decode` on mono
# and stereo files of coder versions 20, 21 and 22; seeks compared sample by
# sample; gst-discoverer-1.0's duration; damaged and cut files; a pipe.
# Usage: gst_test.sh BIN_DIR PLUGIN_DIR SEEK_CHECK WORK_DIR
set -uo pipefail
bin=$(cd "$1" && pwd) || exit 1
plugins=$(cd "$2" && pwd) || exit 1
seek_check=$3
work=$4
nubo=$bin/nubo
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
# Only the build tree's plug-in and the system's; a registry of its own.
export GST_PLUGIN_PATH=$plugins
export GST_REGISTRY=$work/registry.bin
export GST_DEBUG_NO_COLOR=1

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }
pcm_of() { sox "$1" -t raw -; }
frames_of() { soxi -s "$1"; }

if ! gst-inspect-1.0 nubodec >inspect.txt 2>&1; then
  cat inspect.txt >&2
  echo "FAIL: the nubodec element is not found in $plugins" >&2
  exit 1
fi
grep -q "audio/x-nab" inspect.txt || fail "nubodec does not take audio/x-nab"
gst-inspect-1.0 nubo >inspect.txt 2>&1
grep -q "1 typefinders" inspect.txt || fail "no type finder in the plug-in: $(cat inspect.txt)"

# Sources: stereo and mono, lengths that are no whole number of blocks; a
# stereo rate whose block (2 x 22075 / 50 = 883 samples) splits a frame.
sox -R -D -n -r 44100 -b 16 -c 2 stereo.wav synth 2.51 pluck C3 pluck G3 pinknoise remix 1,3 2,3 gain -9
sox -R -D -n -r 22050 -b 16 -c 1 mono.wav synth 1.73 pinknoise lowpass 1500 tremolo 5 40 gain -12
sox -R -D -n -r 22075 -b 16 -c 2 odd.wav synth 1.2 sine 440 brownnoise remix 1,2 2,1 gain -10

decode_with_gst() {  # FILE OUT.wav
  gst-launch-1.0 -q filesrc location="$1" ! decodebin ! audioconvert ! wavenc ! filesink location="$2" >gst.txt 2>&1
}

for source in stereo mono odd; do
  "$nubo" --quiet encode "$source.wav" -o "${source}22.NAB" || fail "nubo encode $source.wav"
  "$bin/make_old_nab" "$source.wav" "${source}20.NAB" 20 || fail "make_old_nab $source 20"
  "$bin/make_old_nab" "$source.wav" "${source}21.NAB" 21 --preamble "a preamble" || fail "make_old_nab $source 21"
  for version in 20 21 22; do
    nab=$source$version.NAB
    "$nubo" --quiet decode "$nab" -o "ref_$source$version.wav" || fail "nubo decode $nab"
    if ! decode_with_gst "$nab" "gst_$source$version.wav"; then
      fail "gst-launch-1.0 on $nab: $(cat gst.txt)"
      continue
    fi
    cmp -s <(pcm_of "ref_$source$version.wav") <(pcm_of "gst_$source$version.wav") ||
      fail "$nab: GStreamer's audio differs from nubo decode's"
  done
done
# Sure that the comparisons compared audio: the reference is the source.
cmp -s <(pcm_of stereo.wav) <(pcm_of ref_stereo21.wav) || fail "nubo decode of stereo21.NAB is not the source"

# Found by its content, not its name.
cp mono21.NAB "mono take"
decode_with_gst "mono take" gst_noname.wav || fail "gst-launch-1.0 on a .NAB file without extension: $(cat gst.txt)"
cmp -s <(pcm_of ref_mono21.wav) <(pcm_of gst_noname.wav) || fail "a .NAB file without extension: audio differs"

# A pipe gives no random access: the element decodes what is pushed.
if cat stereo22.NAB | gst-launch-1.0 -q fdsrc fd=0 ! decodebin ! audioconvert ! wavenc ! filesink location=gst_pipe.wav >gst.txt 2>&1; then
  cmp -s <(pcm_of ref_stereo22.wav) <(pcm_of gst_pipe.wav) || fail "a .NAB file through a pipe: audio differs"
else
  fail "gst-launch-1.0 from a pipe: $(cat gst.txt)"
fi

# gst-discoverer-1.0's duration: the frames over the rate, in nanoseconds.
for nab in stereo22.NAB mono20.NAB odd21.NAB; do
  frames=$(frames_of "ref_${nab%.NAB}.wav")
  rate=$(soxi -r "ref_${nab%.NAB}.wav")
  ns=$((frames * 1000000000 / rate))
  want=$(printf "%d:%02d:%02d.%09d" $((ns / 3600000000000)) $((ns / 60000000000 % 60)) $((ns / 1000000000 % 60)) $((ns % 1000000000)))
  gst-discoverer-1.0 "$nab" >discover.txt 2>&1 || fail "gst-discoverer-1.0 $nab: $(cat discover.txt)"
  grep -q "Duration: $want" discover.txt || fail "$nab: discoverer's duration is not $want: $(grep Duration discover.txt)"
done

# Seeks: to the first and last frames, to block boundaries and to frames
# around them (in the 883-sample blocks of odd.wav a frame straddles two
# blocks), forward and back.
for nab in stereo22.NAB stereo20.NAB mono21.NAB odd22.NAB; do
  ref=ref_${nab%.NAB}.wav
  pcm_of "$ref" >ref.raw
  frames=$(frames_of "$ref")
  channels=$(soxi -c "$ref")
  rate=$(soxi -r "$ref")
  block=$((channels * rate / 50 / channels))  # frames in a block (rounded down)
  "$seek_check" "$nab" ref.raw "$channels" "$rate" \
    1 "$block" $((block + 1)) $((3 * block - 1)) $((frames / 2)) 0 $((frames - 5)) $((5 * block)) \
    >seek.txt 2>&1 || fail "seeks in $nab: $(cat seek.txt)"
done

# A damaged block: an error with its number, the same block nubo names.
cp stereo21.NAB bad.NAB
printf '\xff\xff\xff\xff\xff\xff\xff\xff' | dd of=bad.NAB bs=1 seek=40000 conv=notrunc status=none
"$nubo" test bad.NAB >nubo.txt 2>&1
block=$(grep -o "block [0-9][0-9]*" nubo.txt | head -1)
[[ -n $block ]] || fail "nubo test does not name the damaged block: $(cat nubo.txt)"
if decode_with_gst bad.NAB gst_bad.wav; then
  fail "gst-launch-1.0 succeeded on a damaged file"
fi
grep -q "$block does not decode" gst.txt || fail "the error does not name $block: $(cat gst.txt)"
# A file cut inside a block.
head -c 30000 mono22.NAB >cut.NAB
"$nubo" test cut.NAB >nubo.txt 2>&1
block=$(grep -o "block [0-9][0-9]*" nubo.txt | head -1)
if decode_with_gst cut.NAB gst_cut.wav; then
  fail "gst-launch-1.0 succeeded on a cut file"
fi
grep -q "$block is cut short" gst.txt || fail "the error does not name $block: $(cat gst.txt)"
# Not a .NAB file for the element itself: an error, no crash, and
# gst-launch-1.0 ends. The error comes in the change to PAUSED, so it cannot
# reach gst-launch-1.0 before it waits for messages (which left it waiting
# for ever about one run in three): twenty runs, each bounded generously.
hung=0 wrong=0
for ((i = 0; i < 20; ++i)); do
  timeout 60 gst-launch-1.0 -q filesrc location=stereo.wav ! nubodec ! fakesink >gst.txt 2>&1
  case $? in
    0) fail "nubodec took a WAVE file" ;;
    124) hung=$((hung + 1)) ;;
    *) grep -q "Not a .NAB file" gst.txt || wrong=$((wrong + 1)) ;;
  esac
done
((hung == 0)) || fail "gst-launch-1.0 with nubodec on a WAVE file did not end in $hung of 20 runs"
((wrong == 0)) || fail "nubodec on a WAVE file: $wrong runs without the error: $(cat gst.txt)"

if ((failures)); then
  echo "$failures failure(s)" >&2
  exit 1
fi
echo "all GStreamer checks passed"
