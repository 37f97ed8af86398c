#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# Ways in and out as a user strings them together: pipes to and from flac
# and sox, FLAC files written and read through libFLAC, the header fields of
# a compressed file carried through FLAC and back, the audio MD5 against
# metaflac's, an RF64 input, and a tree decoded to FLAC under the safety rules.
# Usage: ways_test.sh BIN_DIR WORK_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"
for tool in flac metaflac sox; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
raw() { sox "$1" -t raw - 2>/dev/null; }
same_audio() { cmp -s <(raw "$1") <(raw "$2") || fail "$1 and $2 differ in audio"; }
nubo_md5() { "$nubo" info "$1" | awk '/^audio MD5/ { print $3 }'; }

sox -R -D -n -r 44100 -b 16 -c 2 music.wav synth 3.3 pluck C3 pluck G3 pinknoise remix 1,3 2,3 gain -9 2>/dev/null
sox -R -D -n -r 22050 -b 16 -c 1 voice.wav synth 1.9 square 110 lowpass 1500 gain -12 2>/dev/null
"$nubo" -q encode music.wav -o music.NAB || fail "encode music"
"$bin/make_old_nab" voice.wav old.NAB 21 --preamble 'take 7, room B' || fail "make_old_nab"
# A coder parameter that the FLAC file must carry back.
printf '\x2a\x00\x00\x00' | dd of=old.NAB bs=1 seek=42 conv=notrunc status=none
sums=$(md5sum music.wav voice.wav music.NAB old.NAB)

# --- pipes ---------------------------------------------------------------------
"$nubo" decode music.NAB -o - 2>err.txt | flac -s -f - -o piped.flac || fail "nubo decode -o - | flac -"
grep -q 'converted' err.txt || fail "the result of a decode to stdout did not go to stderr: $(cat err.txt)"
same_audio piped.flac music.wav
flac -s -dc piped.flac | "$nubo" encode - -o back.NAB || fail "flac -dc | nubo encode -"
run 0 "$nubo" verify back.NAB music.wav
"$nubo" decode music.NAB -o - 2>/dev/null | sox -t wav - -t raw - 2>/dev/null | cmp -s - <(raw music.wav) ||
  fail "the WAVE on stdout is not the audio"
cat music.NAB | "$nubo" decode - -o fromstdin.wav 2>err.txt || fail "decode from stdin: $(cat err.txt)"
"$nubo" -q decode music.NAB -o fromfile.wav
cmp -s fromstdin.wav fromfile.wav || fail "decoding from stdin and from the file differ"
run 0 bash -c "cat music.NAB | '$nubo' test -"
run 2 "$nubo" encode -
expect_err() { grep -qF -- "$1" err.txt || fail "stderr lacks '$1': $(head -c 300 err.txt)"; }
expect_err "needs an output"
run 2 bash -c "cat music.wav | '$nubo' encode --verify - -o x.NAB"
[[ ! -e x.NAB ]] || fail "a refused encode wrote x.NAB"

# --- FLAC out and in, the MD5 ---------------------------------------------------
run 0 "$nubo" decode music.NAB -o music.flac --report flac_report.jsonl
flac -s -t music.flac || fail "flac -t rejects our FLAC file"
# The report gives the size of the file as written, whatever its format.
grep -q "\"output_bytes\":$(stat -c %s music.flac)," flac_report.jsonl ||
  fail "the report's output_bytes is not the FLAC file's size: $(cat flac_report.jsonl)"
[[ $(metaflac --show-md5sum music.flac) == "$(nubo_md5 music.NAB)" ]] ||
  fail "STREAMINFO MD5 $(metaflac --show-md5sum music.flac) is not nubo's $(nubo_md5 music.NAB)"
[[ $(metaflac --show-md5sum piped.flac) == "$(nubo_md5 music.NAB)" ]] || fail "flac's MD5 of the piped audio differs"
run 0 "$nubo" test --md5 music.NAB
grep -q "^$(nubo_md5 music.NAB)  music.NAB" out.txt || fail "test --md5 line: $(cat out.txt)"
run 0 "$nubo" decode --flac --flac-level 0 music.NAB -o level0/
run 0 "$nubo" decode --flac --flac-level 8 music.NAB -o level8/
[[ -f level0/music.flac && -f level8/music.flac ]] || fail "--flac did not name the outputs .flac"
(($(stat -c %s level8/music.flac) < $(stat -c %s level0/music.flac))) || fail "level 8 is not smaller than level 0"
run 2 "$nubo" decode --flac-level 9 music.NAB -o x.flac
run 0 "$nubo" verify music.NAB music.flac
grep -qx "1 file(s) hold the same audio  0 file(s) differ" out.txt || fail "verify's summary: $(cat out.txt)"
sox voice.wav -r 44100 -c 2 other.wav 2>/dev/null && flac -s -f other.wav -o other.flac
run 1 "$nubo" verify music.NAB other.flac
grep -qx "0 file(s) hold the same audio  1 file(s) differ" out.txt || fail "verify's summary: $(cat out.txt)"
# A compressed file through FLAC and back: its preamble and coder parameter
# travel in VORBIS_COMMENT, so the file comes back byte for byte.
run 0 "$nubo" upgrade old.NAB -o old22.NAB
run 0 "$nubo" decode old22.NAB -o old22.flac
metaflac --export-tags-to=- old22.flac | grep -q '^NUBO_CODER_PARAMETER=42$' || fail "coder parameter not in the tags"
run 0 "$nubo" encode old22.flac -o again.NAB
cmp -s again.NAB old22.NAB || fail "NAB -> FLAC -> NAB did not give the same file back"
# The same through a pipe, where the input cannot be read twice: the preamble
# still travels, and only once the whole file has been read.
cat old22.NAB | "$nubo" decode - -o piped22.flac || fail "cat | nubo decode - -o .flac"
[[ $(metaflac --export-tags-to=- piped22.flac) == "$(metaflac --export-tags-to=- old22.flac)" ]] ||
  fail "the piped FLAC file's tags differ: $(metaflac --export-tags-to=- piped22.flac)"
same_audio piped22.flac old22.flac
# 24-bit FLAC is refused with what it is.
sox music.wav -b 24 deep.flac 2>/dev/null
run 1 "$nubo" encode deep.flac -o deep.NAB
expect_err "24-bit FLAC"

# --- RF64 and extensible inputs --------------------------------------------------
le32() { printf '%b' "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"; }
raw music.wav >music.raw
bytes=$(stat -c %s music.raw)
{
  printf 'RF64'; le32 4294967295; printf 'WAVEds64'; le32 28; le32 $((bytes + 72)); le32 0; le32 "$bytes"; le32 0
  le32 $((bytes / 4)); le32 0; le32 0
  printf 'fmt '; le32 16; printf '\x01\x00\x02\x00'; le32 44100; le32 176400; printf '\x04\x00\x10\x00'
  printf 'data'; le32 4294967295; cat music.raw
} >music.rf64
run 0 "$nubo" encode music.rf64 -o rf64.NAB
run 0 "$nubo" verify rf64.NAB music.wav
{
  printf 'RIFF'; le32 $((bytes + 60)); printf 'WAVEfmt '; le32 40; printf '\xfe\xff\x02\x00'; le32 44100; le32 176400
  printf '\x04\x00\x10\x00\x16\x00\x10\x00'; le32 3
  printf '\x01\x00\x00\x00\x00\x00\x10\x00\x80\x00\x00\xaa\x00\x38\x9b\x71'
  printf 'data'; le32 "$bytes"; cat music.raw
} >extensible.wav
run 0 "$nubo" encode extensible.wav -o ext.NAB
run 0 "$nubo" verify ext.NAB music.wav

# --- a tree to FLAC, with the safety rules ------------------------------------------
mkdir -p tree/a/b
cp music.NAB tree/a/
cp old22.NAB tree/a/b/
run 0 "$nubo" decode -r tree -o flac/ --flac
[[ -f flac/a/music.flac && -f flac/a/b/old22.flac ]] || fail "the tree was not decoded to FLAC: $(find flac)"
[[ -z $(find flac -name '*.nubo-part') ]] || fail "temporary files left: $(find flac -name '*.nubo-part')"
run 0 "$nubo" decode -r tree -o flac/ --flac
grep -q "0 file(s) converted  2 skipped" out.txt || fail "a rerun did not skip the complete FLAC files: $(cat out.txt)"
cp music.wav flac/a/clash.flac
cp music.NAB tree/a/clash.NAB
run 1 "$nubo" decode -r -f tree -o flac/ --flac
expect_err "not a FLAC file"
same_audio flac/a/clash.flac music.wav

[[ "$(md5sum music.wav voice.wav music.NAB old.NAB)" == "$sums" ]] || fail "an input changed"
finish "ways in and out"
