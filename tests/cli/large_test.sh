#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# A recording with more than 4 GiB of audio (over 6.7 hours of CD stereo),
# made cheaply and never kept on disk: a compressed file's header followed
# by one silent block repeated, streamed through pipes. `nubo test -` must
# count every frame, and `nubo decode - -o -` must write RF64 (the EBU
# extension of RIFF for sizes past 4 GiB) whose sizes match what follows.
# Usage: large_test.sh BIN_DIR WORK_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"
# le32 N: N as four little-endian bytes (through %b, so that no byte is read as a format).
le32() { printf '%b' "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $((($1 >> 8) & 255)) $((($1 >> 16) & 255)) $((($1 >> 24) & 255)))"; }
u32_at() { od -An -tu4 -j"$2" -N4 "$1" | tr -d ' '; }
u64_at() { od -An -tu8 -j"$2" -N8 "$1" | tr -d ' '; }

# One silent block of 1764 samples (20 ms of CD stereo), taken from a
# compressed file of 40 ms of silence: its first block, by its size field.
sox -n -r 44100 -b 16 -c 2 silence.wav trim 0 0.04
"$nubo" -q encode silence.wav -o silence.NAB || { echo "FAIL: encode of silence" >&2; exit 1; }
size=$(($(od -An -tu2 -j68 -N2 silence.NAB) & 4095))
dd if=silence.NAB of=block.bin bs=1 skip=68 count="$size" status=none
# 1024 blocks to a chunk, enough chunks for just over 4 GiB of audio.
for i in $(seq 1024); do cat block.bin; done >chunk.bin
chunks=1192  # 1192 * 1024 blocks * 1764 samples * 2 bytes = 4.31e9 bytes of audio
blocks=$((chunks * 1024))
frames=$((blocks * 882))
data=$((2 + blocks * size))
# The header of a version-22 file: RIFF size, fact frames and data size right.
{
  printf 'RIFF'; le32 $((data + 58)); printf 'WAVEfmt '; le32 26
  printf '\x3a\x8a\x02\x00'; le32 44100; le32 176400; printf '\x04\x00\x10\x00\x08\x00'; le32 22; le32 0
  printf 'fact'; le32 4; le32 "$frames"; printf 'data'; le32 "$data"; printf '\x00\x00'
} >header.bin
[[ $(stat -c %s header.bin) == 68 ]] || fail "header is $(stat -c %s header.bin) bytes"
stream() { cat header.bin; for ((c = 0; c < chunks; c++)); do cat chunk.bin; done; }

stream | "$nubo" test - --md5 >test.txt 2>err.txt || fail "nubo test - failed: $(cat err.txt)"
grep -q '^[0-9a-f]\{32\}  -$' test.txt || fail "no MD5 line: $(cat test.txt)"
# The decoded stream: an RF64 header of 80 bytes, then the audio.
stream | "$nubo" decode - -o - 2>err.txt | { head -c 80 >rf64.bin; wc -c >rest.txt; } || fail "decode - failed: $(cat err.txt)"
[[ $(head -c 4 rf64.bin) == RF64 ]] || fail "not RF64: $(head -c 16 rf64.bin | od -c | head -2)"
[[ $(u32_at rf64.bin 4) == 4294967295 && $(u32_at rf64.bin 76) == 4294967295 ]] || fail "32-bit sizes not 0xFFFFFFFF"
[[ $(u64_at rf64.bin 28) == $((frames * 4)) ]] || fail "ds64 data size $(u64_at rf64.bin 28), expected $((frames * 4))"
[[ $(u64_at rf64.bin 20) == $((frames * 4 + 72)) ]] || fail "ds64 RIFF size $(u64_at rf64.bin 20)"
[[ $(u64_at rf64.bin 36) == "$frames" ]] || fail "ds64 frame count $(u64_at rf64.bin 36), expected $frames"
[[ $(tr -d ' ' <rest.txt) == $((frames * 4)) ]] || fail "$(cat rest.txt) bytes of audio after the header, expected $((frames * 4))"
# A header that claims one block more than the stream holds: decode to a
# pipe cannot put the sizes right afterwards, so it must say so and fail.
{
  printf 'RIFF'; le32 $((data + 58)); printf 'WAVEfmt '; le32 26
  printf '\x3a\x8a\x02\x00'; le32 44100; le32 176400; printf '\x04\x00\x10\x00\x08\x00'; le32 22; le32 0
  printf 'fact'; le32 4; le32 $((frames + 882)); printf 'data'; le32 "$data"; printf '\x00\x00'
} >wrong.bin
[[ $(stat -c %s wrong.bin) == 68 ]] || fail "wrong.bin is $(stat -c %s wrong.bin) bytes"
{ cat wrong.bin; cat chunk.bin; } | "$nubo" decode - -o - >/dev/null 2>err.txt && fail "a wrong frame count went unnoticed"
grep -q 'frames' err.txt || fail "no word of the frame count: $(cat err.txt)"

finish "large recording"
