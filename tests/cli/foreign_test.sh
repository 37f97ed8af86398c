#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# A WAVE file's other chunks (bext, LIST, iXML, cue, smpl) through nubo:
# kept in the compressed file, written back where they stood, carried through
# FLAC as flac --keep-foreign-metadata carries them (checked with flac
# itself), and named when they cannot be kept; the audio and the code blocks
# stay those of the same audio without chunks.
# Usage: foreign_test.sh BIN_DIR WORK_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"
for tool in flac metaflac sox; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

le32() { printf '%b' "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"; }
# chunk ID FILE: the chunk with FILE's bytes as its body, and a pad byte after an odd body.
chunk() {
  local size
  size=$(stat -c %s "$2")
  printf '%s' "$1"; le32 "$size"; cat "$2"
  ((size % 2 == 0)) || printf '\0'
}
fmt_chunk() { printf 'fmt '; le32 16; printf '\x01\x00\x02\x00'; le32 44100; le32 176400; printf '\x04\x00\x10\x00'; }
# wave PARTS...: a RIFF WAVE file of the chunk files given, its size field right.
wave() {
  local size=4 part
  for part in "$@"; do size=$((size + $(stat -c %s "$part"))); done
  printf 'RIFF'; le32 "$size"; printf 'WAVE'; cat "$@"
}
preamble_length() { od -An -tu2 -j66 -N2 "$1" | tr -d ' '; }
nubo_md5() { "$nubo" info "$1" | awk '/^audio MD5/ { print $3 }'; }

sox -R -D -n -r 44100 -b 16 -c 2 tone.wav synth 2.7 pluck C3 pluck G3 gain -9 2>/dev/null
sox tone.wav -t raw audio.raw 2>/dev/null
# The chunks, each a file: a bext of odd length (its pad byte follows), LIST/INFO, iXML, cue, smpl.
head -c 603 /dev/urandom >bext.body
printf 'INFOINAM\x06\x00\x00\x00Take 7ICMT\x0c\x00\x00\x00room B, mic\x00' >list.body
printf '<?xml version="1.0"?><BWFXML><SCENE>12</SCENE></BWFXML>' >ixml.body
{ le32 1; le32 1; le32 4410; printf 'data'; le32 0; le32 0; le32 4410; } >cue.body
head -c 36 /dev/zero >smpl.body
head -c 28 /dev/zero >junk.body
chunk JUNK junk.body >junk.chunk
chunk bext bext.body >bext.chunk
fmt_chunk >fmt.chunk
chunk LIST list.body >list.chunk
chunk iXML ixml.body >ixml.chunk
{ printf 'data'; le32 "$(stat -c %s audio.raw)"; cat audio.raw; } >data.chunk
chunk 'cue ' cue.body >cue.chunk
chunk smpl smpl.body >smpl.chunk
wave junk.chunk bext.chunk fmt.chunk list.chunk ixml.chunk data.chunk cue.chunk smpl.chunk >bwf.wav
# What comes back: the same file without its JUNK padding.
wave bext.chunk fmt.chunk list.chunk ixml.chunk data.chunk cue.chunk smpl.chunk >expected.wav
sums=$(md5sum tone.wav bwf.wav)

# --- WAVE -> .NAB -> WAVE --------------------------------------------------------
run 0 "$nubo" encode tone.wav -o tone.NAB
[[ $(preamble_length tone.NAB) == 0 ]] || fail "a WAVE without chunks got a preamble"
run 0 "$nubo" decode tone.NAB -o tone-back.wav
cmp -s tone-back.wav tone.wav || fail "a WAVE without chunks did not come back byte for byte"
run 0 "$nubo" encode bwf.wav -o bwf.NAB
expect_not_in err.txt "warning"
length=$(preamble_length bwf.NAB)
((length > 603 + 8 + 3 * 16)) || fail "preamble of $length bytes"
[[ $(od -An -tx1 -j68 -N9 bwf.NAB | tr -d ' ') == 894e55424f0d0a1a01 ]] || fail "the preamble's magic and version"
# The code blocks are those of the same audio without chunks, and so is its MD5.
cmp -s <(tail -c +$((69 + length)) bwf.NAB) <(tail -c +69 tone.NAB) || fail "the chunks changed the code blocks"
[[ $(nubo_md5 bwf.NAB) == "$(nubo_md5 tone.NAB)" ]] || fail "the chunks changed the audio MD5"
run 0 "$nubo" info bwf.NAB
expect_in out.txt "WAVE chunks        bext (603 bytes, before fmt), LIST ($(stat -c %s list.body) bytes, before data), iXML ($(stat -c %s ixml.body) bytes, before data), cue  (28 bytes, after the audio), smpl (36 bytes, after the audio)"
run 0 "$nubo" info tone.NAB
expect_not_in out.txt "WAVE chunks"
run 0 "$nubo" test bwf.NAB
run 0 "$nubo" verify bwf.NAB bwf.wav
run 0 "$nubo" decode bwf.NAB -o back.wav
cmp -s back.wav expected.wav || fail "bext, LIST, iXML, cue and smpl did not come back byte for byte in their places"
"$nubo" decode bwf.NAB -o - 2>/dev/null >piped-back.wav || fail "decode to standard output"
cmp -s piped-back.wav expected.wav || fail "the chunks on standard output differ"
sox back.wav -t raw - 2>/dev/null | cmp -s - audio.raw || fail "sox reads other audio from the WAVE with chunks"

# --- through FLAC and flac itself -------------------------------------------------
run 0 "$nubo" decode bwf.NAB -o bwf.flac
metaflac --list --block-type=APPLICATION bwf.flac >blocks.txt
[[ $(grep -c 'application ID: 72696666' blocks.txt) == 8 ]] || fail "not 8 riff blocks: $(head -c 400 blocks.txt)"
metaflac --export-tags-to=- bwf.flac >tags.txt
expect_not_in tags.txt NUBO_PREAMBLE
expect_in tags.txt NUBO_CODER_VERSION=22
flac -s -f -d --keep-foreign-metadata bwf.flac -o flac-back.wav 2>flac.err || fail "flac -d --keep-foreign-metadata: $(cat flac.err)"
cmp -s flac-back.wav expected.wav || fail "flac gave back another WAVE file than nubo decodes"
run 0 "$nubo" encode bwf.flac -o again.NAB
cmp -s again.NAB bwf.NAB || fail ".NAB -> FLAC -> .NAB did not give the same file back"
# A FLAC file that flac made keeps the chunks for nubo too (JUNK left out).
flac -s -f --keep-foreign-metadata bwf.wav -o made-by-flac.flac 2>flac.err || fail "flac --keep-foreign-metadata: $(cat flac.err)"
run 0 "$nubo" encode made-by-flac.flac -o from-flac.NAB
cmp -s from-flac.NAB bwf.NAB || fail "flac's FLAC file did not give the same .NAB file"
# An old file's preamble of text is carried as before, never written into a WAVE file.
"$bin/make_old_nab" tone.wav old.NAB 21 --preamble 'take 7, room B' || fail "make_old_nab"
run 0 "$nubo" decode old.NAB -o old.wav
cmp -s old.wav tone.wav || fail "an old preamble reached the WAVE file"
run 0 "$nubo" decode old.NAB -o old.flac
[[ -z $(metaflac --list --block-type=APPLICATION old.flac) ]] || fail "an old preamble became riff blocks"
metaflac --export-tags-to=- old.flac | grep -q "^NUBO_PREAMBLE=$(printf 'take 7, room B' | od -An -tx1 | tr -d ' \n')$" ||
  fail "the old preamble is not in NUBO_PREAMBLE"

# --- what a compressed file cannot hold ---------------------------------------------
head -c 70000 /dev/urandom >big.body
chunk LIST big.body >big.chunk
wave bext.chunk fmt.chunk big.chunk ixml.chunk data.chunk >big.wav
run 0 "$nubo" encode big.wav -o big.NAB
expect_in err.txt "chunks of the input that the compressed file cannot hold were not kept: big.wav (LIST (70000 bytes)) [warning]"
run 0 "$nubo" decode big.NAB -o big-back.wav
wave bext.chunk fmt.chunk ixml.chunk data.chunk >big-expected.wav
cmp -s big-back.wav big-expected.wav || fail "the chunks that fit did not come back"
# Two that fit alone but not together: the second is named, the one after it kept.
head -c 40000 /dev/urandom >a.body
head -c 30000 /dev/urandom >b.body
chunk bext a.body >a.chunk
chunk iXML b.body >b.chunk
wave a.chunk fmt.chunk b.chunk data.chunk cue.chunk >two.wav
run 0 "$nubo" encode two.wav -o two.NAB --report two.jsonl
expect_in err.txt "iXML (30000 bytes)"
expect_not_in err.txt "bext ("
grep -q '"result":"converted"' two.jsonl || fail "a warning made the file not converted: $(cat two.jsonl)"
run 0 "$nubo" decode two.NAB -o two-back.wav
wave a.chunk fmt.chunk data.chunk cue.chunk >two-expected.wav
cmp -s two-back.wav two-expected.wav || fail "bext and cue did not come back around the audio"

# --- pipes and RF64 -------------------------------------------------------------------
# Read once, the chunks after the audio come after the preamble was written: named.
cat bwf.wav | "$nubo" encode - -o piped.NAB 2>err.txt || fail "cat | nubo encode -: $(cat err.txt)"
expect_in err.txt "cue  (28 bytes), smpl (36 bytes) after the audio of a stream read once"
run 0 "$nubo" decode piped.NAB -o piped.wav
wave bext.chunk fmt.chunk list.chunk ixml.chunk data.chunk >piped-expected.wav
cmp -s piped.wav piped-expected.wav || fail "the chunks before the audio of a pipe did not come back"
bytes=$(stat -c %s audio.raw)
{
  printf 'RF64'; le32 4294967295; printf 'WAVEds64'; le32 28; le32 0; le32 0; le32 "$bytes"; le32 0
  le32 $((bytes / 4)); le32 0; le32 0
  cat bext.chunk fmt.chunk; printf 'data'; le32 4294967295; cat audio.raw cue.chunk
} >chunks.rf64
run 0 "$nubo" encode chunks.rf64 -o rf64.NAB
run 0 "$nubo" decode rf64.NAB -o rf64-back.wav
wave bext.chunk fmt.chunk data.chunk cue.chunk >rf64-expected.wav
cmp -s rf64-back.wav rf64-expected.wav || fail "an RF64 input's chunks did not come back"

# --- damage -----------------------------------------------------------------------------
# poke FILE OFFSET BYTES: a copy's bytes changed in place.
poke() { printf '%b' "$3" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none; }
# A preamble that begins with the magic but does not read as chunks (the first
# entry's size, its place byte, an entry named data): the audio is whole, the
# chunks are named as damaged by info, test and decode, and carried unchanged
# into FLAC and back.
for damage in 'size 82 \x49\x06' 'place 77 \x07' 'data 78 data'; do
  read -r what offset bytes <<<"$damage"
  cp bwf.NAB "dmg-$what.NAB"
  poke "dmg-$what.NAB" "$offset" "$bytes"
  run 0 "$nubo" info "dmg-$what.NAB"
  expect_in out.txt "remark             the WAVE chunks kept in the preamble are damaged and cannot be read"
  expect_not_in out.txt "WAVE chunks        "
  run 0 "$nubo" test "dmg-$what.NAB"
  expect_in err.txt "The WAVE chunks kept in the compressed file are damaged and cannot be read; the audio is whole: dmg-$what.NAB [warning]"
  run 0 "$nubo" decode "dmg-$what.NAB" -o "dmg-$what.wav" --report "dmg-$what.jsonl"
  expect_in err.txt "are damaged and cannot be read; the audio is whole: dmg-$what.NAB [warning]"
  cmp -s "dmg-$what.wav" tone.wav || fail "a damaged preamble ($what) did not give the audio alone"
  grep -qF '"warning":"The WAVE chunks kept in the compressed file are damaged' "dmg-$what.jsonl" ||
    fail "the report lacks the warning: $(cat "dmg-$what.jsonl")"
  run 0 "$nubo" decode "dmg-$what.NAB" -o "dmg-$what.flac"
  expect_not_in err.txt "warning"
  run 0 "$nubo" encode "dmg-$what.flac" -o "dmg-$what-again.NAB"
  cmp -s "dmg-$what-again.NAB" "dmg-$what.NAB" || fail "a damaged preamble ($what) did not come back from FLAC"
done
run 0 "$nubo" decode bwf.NAB -o quiet.wav --report quiet.jsonl
grep -qF '"reason":null,"warning":null,' quiet.jsonl || fail "a file without a warning: $(cat quiet.jsonl)"
# A WAVE file whose last chunk is cut short (its RIFF size says more): the
# chunk is named as damaged, the others kept.
head -c -10 bwf.wav >cut-body.wav
head -c -40 bwf.wav >cut-head.wav
run 0 "$nubo" encode cut-body.wav cut-head.wav -o '*.NAB' --report cut.jsonl
expect_in err.txt "damaged chunks of the input were not kept: cut-body.wav (smpl (its header gives 36 bytes, 26 are there)) [warning]"
expect_in err.txt "damaged chunks of the input were not kept: cut-head.wav (a chunk header cut short (4 of 8 bytes)) [warning]"
[[ $(grep -c '"warning":".*damaged chunks of the input were not kept' cut.jsonl) == 2 ]] || fail "report: $(cat cut.jsonl)"
run 0 "$nubo" info cut-body.NAB
expect_in out.txt "cue  (28 bytes, after the audio)"
expect_not_in out.txt "smpl"
# A riff block of flac's whose chunk size is wrong: that chunk is named as
# damaged, the chunks of the other blocks are kept.
cp made-by-flac.flac riff-dmg.flac
offset=$(python3 -c "import sys; print(open(sys.argv[1], 'rb').read().index(b'bext') + 4)" riff-dmg.flac)
poke riff-dmg.flac "$offset" '\x0f\x27\x00\x00'
run 0 "$nubo" encode riff-dmg.flac
expect_in err.txt "damaged chunks of the input were not kept: riff-dmg.flac (bext (its header gives 9999 bytes,"
expect_not_in err.txt "cannot hold"
run 0 "$nubo" info riff-dmg.NAB
expect_in out.txt "WAVE chunks        LIST ($(stat -c %s list.body) bytes, before data), iXML ($(stat -c %s ixml.body) bytes, before data), cue  (28 bytes, after the audio), smpl (36 bytes, after the audio)"
# A FLAC file with riff blocks and a compressed file's preamble as well: the
# preamble comes back as it was, the chunks beside it are named.
cp made-by-flac.flac both.flac
metaflac --set-tag=NUBO_PREAMBLE="$(printf 'take 7' | od -An -tx1 | tr -d ' \n')" both.flac
run 0 "$nubo" encode both.flac
expect_in err.txt "were not kept: both.flac (bext (603 bytes), LIST"
expect_in err.txt "as the preamble kept is the FLAC file's NUBO_PREAMBLE) [warning]"
[[ $(tail -c +69 both.NAB | head -c 6) == "take 7" ]] || fail "the NUBO_PREAMBLE did not come back"

[[ "$(md5sum tone.wav bwf.wav)" == "$sums" ]] || fail "an input changed"
finish "foreign chunks"
