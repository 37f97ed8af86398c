#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# What nubo may be trusted with, run as a user runs it: a report never
# replaces what it was not asked to, names are taken as given, damage is
# always reported, an incomplete input stays visible, the report lists every
# file of the run as valid JSON, and each message says what happened.
# Usage: trust_test.sh BIN_DIR WORK_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"

json_lines() {  # FILE: every line is a JSON object (python3's json), else fails
  python3 -c '
import json, sys
for n, line in enumerate(open(sys.argv[1], "rb"), 1):
    obj = json.loads(line)
    assert isinstance(obj, dict), n
' "$1" || fail "$1 holds a line that is not JSON"
}
field_of() {  # FILE INPUT FIELD: the field of INPUT's line in a report
  python3 -c '
import json, sys
for line in open(sys.argv[1], "rb"):
    o = json.loads(line)
    if o["input"] == sys.argv[2]:
        print(o[sys.argv[3]])
' "$1" "$2" "$3"
}

sox -R -D -n -r 44100 -b 16 -c 2 music.wav synth 3.01 pluck C3 pluck G3 pinknoise remix 1,3 2,3 gain -9
sox -R -D -n -r 22050 -b 16 -c 1 voice.wav synth 1.5 square 110 lowpass 1500 gain -12
"$bin/make_old_nab" music.wav OLD.NAB 20 >/dev/null
"$bin/make_old_nab" voice.wav VOICE.NAB 21 >/dev/null

# 1. A report never replaces an input, a device, or any file without -f.
cp OLD.NAB keep.NAB
run 2 "$nubo" upgrade OLD.NAB -o up/ --report OLD.NAB
cmp -s OLD.NAB keep.NAB || fail "the report replaced an input of the run"
expect_in err.txt "nubo: --report OLD.NAB exists; it is not replaced"
run 2 "$nubo" upgrade OLD.NAB -o up/ --report OLD.NAB -f
cmp -s OLD.NAB keep.NAB || fail "the report replaced an input of the run (-f)"
[[ ! -e up/OLD!.NAB && ! -e up/OLD.NAB ]] || fail "a refused report still let the run write"
echo "notes" >notes.txt
run 2 "$nubo" test OLD.NAB --report notes.txt -f
[[ $(cat notes.txt) == notes ]] || fail "the report replaced a file of another kind"
# A device and a FIFO of our own (never the system's /dev/null: a fault here
# would replace it for the whole machine).
mkfifo afifo
run 2 "$nubo" test OLD.NAB --report afifo -f
[[ -p afifo ]] || fail "the report replaced a FIFO"
if [[ $(id -u) == 0 ]] && mknod adevice c 1 3 2>/dev/null; then
  run 2 "$nubo" test OLD.NAB --report adevice -f
  [[ -c adevice ]] || fail "the report replaced a device node"
fi
mkdir -p adir
run 2 "$nubo" test OLD.NAB --report adir
run 0 "$nubo" test OLD.NAB --report r.jsonl
run 2 "$nubo" test OLD.NAB --report r.jsonl
expect_in err.txt "not replaced"
run 0 "$nubo" test OLD.NAB --report r.jsonl -f
json_lines r.jsonl
ls -A | grep -q 'nubo-part' && fail "a report left a temporary file: $(ls -A)"

# 2. Names are taken as given: a listed or named file is that file, never a pattern.
mkdir -p names
cp OLD.NAB 'names/x*.NAB'
cp VOICE.NAB names/xy.NAB
"$nubo" decode names/xy.NAB -o names/xy.wav >/dev/null 2>&1
cp names/xy.wav xy.before
printf 'names/x*.NAB\0' >list0
run 0 "$nubo" decode --files-from list0 --null -f
cmp -s names/xy.wav xy.before || fail "a listed name was read as a pattern and xy.wav replaced"
[[ -e 'names/x*.wav' ]] || fail "the listed file x*.NAB was not decoded"
cp music.wav 'names/Why?.wav'
cp voice.wav names/Whys.wav
run 0 "$nubo" encode 'names/Why?.wav' names/Whys.wav
[[ -e 'names/Why?.NAB' && -e names/Whys.NAB ]] || fail "Why?.wav and Whys.wav were not both encoded"

# 3. Damage in a walk is reported: empty, cut and unknown-version .NAB files.
mkdir -p arch
cp OLD.NAB arch/good.NAB
: >arch/empty.NAB
head -c 40 OLD.NAB >arch/cut.NAB
cp OLD.NAB arch/v23.NAB
printf '\x17\x00\x00\x00' | dd of=arch/v23.NAB bs=1 seek=38 conv=notrunc status=none
echo "text" >arch/readme.txt
run 1 "$nubo" test arch/
expect_in out.txt "1 file(s) complete  3 file(s) damaged or incomplete"
expect_in out.txt "1 file(s) of another kind passed over"
for f in empty cut v23; do expect_in err.txt "arch/$f.NAB"; done
expect_not_in err.txt "readme.txt"
run 1 "$nubo" upgrade arch/ -o arch_up/
expect_in err.txt "arch/empty.NAB"
run 1 "$nubo" decode arch/ -o arch_wav/
expect_in err.txt "arch/v23.NAB"

# 4. An incomplete input stays visible on a rerun, whatever its output.
cp OLD.NAB inc.NAB
printf '\x9f\x86\x01\x00' | dd of=inc.NAB bs=1 seek=54 conv=notrunc status=none  # fact: 99999 frames
run 1 "$nubo" upgrade inc.NAB -o inc22.NAB
run 1 "$nubo" upgrade inc.NAB -o inc22.NAB --report inc.jsonl
expect_in err.txt "inc.NAB"
[[ $(field_of inc.jsonl inc.NAB result) == incomplete ]] || fail "the report does not say incomplete: $(cat inc.jsonl)"
run 1 "$nubo" decode inc.NAB -o inc.wav
run 1 "$nubo" decode inc.NAB -o inc.wav

# 5. A FLAC input is checked frame by frame against its STREAMINFO, and
# against its sample count: frames spliced from a file of another rate,
# channel count or sample size, a file cut at a frame boundary and one with
# frames beyond its count are refused as flac refuses them; without an MD5
# nothing else would notice. Nothing takes the output's name.
mkdir -p fl
if command -v flac >/dev/null && "$nubo" -q decode OLD.NAB -o fl/probe.flac 2>/dev/null; then
  sox -R -D -n -r 44100 -b 16 -c 2 fl/base.wav synth 1.0 sine 440 gain -9
  sox -R -D -n -r 22050 -b 16 -c 2 fl/rate.wav synth 1.0 sine 330 gain -9
  sox -R -D -n -r 44100 -b 16 -c 1 fl/mono.wav synth 1.0 sine 330 gain -9
  sox -R -D -n -r 44100 -b 24 -c 2 fl/deep.wav synth 1.0 sine 330 gain -9
  for f in base rate mono deep; do flac -s --no-padding --no-seektable fl/$f.wav -o fl/$f.flac 2>/dev/null; done
  first_frame() { flac -s -f -a "$1" -o fl/analysis.txt && awk -F'[\t=]' '/^frame=0\t/ {print $4}' fl/analysis.txt; }
  frame_at() { flac -s -f -a "$1" -o fl/analysis.txt && awk -F'[\t=]' -v n="$2" '$1 == "frame" && $2 == n {print $4}' fl/analysis.txt; }
  no_md5() { dd if=/dev/zero of="$1" bs=1 seek=26 count=16 conv=notrunc status=none; }  # STREAMINFO's MD5 unset
  for f in rate mono deep base; do
    cp fl/base.flac fl/spliced_$f.flac
    tail -c +$(($(first_frame fl/$f.flac) + 1)) fl/$f.flac >>fl/spliced_$f.flac
    no_md5 fl/spliced_$f.flac
  done
  head -c "$(frame_at fl/base.flac 5)" fl/base.flac >fl/cut.flac
  no_md5 fl/cut.flac
  ! flac -s -t fl/cut.flac 2>/dev/null || fail "flac accepts the cut FLAC file; the test file is not what it should be"
  for case in "spliced_rate:sample rate 22050 where its STREAMINFO gives 44100" \
              "spliced_mono:channels 1 where its STREAMINFO gives 2" \
              "spliced_deep:bits per sample 24 where its STREAMINFO gives 16" \
              "spliced_base:more samples than the 44100 its STREAMINFO gives" \
              "cut:ends after frame 5, at sample 20480; its STREAMINFO gives 44100 samples"; do
    name=${case%%:*}
    run 1 "$nubo" encode fl/$name.flac -o fl/$name.NAB
    expect_in err.txt "fl/$name.flac"
    expect_in err.txt "${case#*:}"
    [[ ! -e fl/$name.NAB ]] || fail "the refused FLAC input fl/$name.flac has an output under its final name"
  done
  expect_in err.txt "The FLAC file is damaged or disagrees with its STREAMINFO; not converted: fl/cut.flac"
  # 44100 samples in frames of 4096: the spliced frames begin with frame 12.
  grep -q "FLAC frame 12 at sample 44100" <("$nubo" encode fl/spliced_mono.flac -o fl/x.NAB 2>&1) ||
    fail "the spliced file is not refused at its first foreign frame (12, sample 44100)"
  # Through a pipe the same.
  run 1 "$nubo" encode - -o fl/piped.NAB < <(cat fl/spliced_rate.flac)
  expect_in err.txt "sample rate 22050"
  [[ ! -e fl/piped.NAB ]] || fail "a refused piped FLAC input has an output under its final name"
  # A stream flac wrote to a pipe gives no sample count (nor MD5): its frames
  # are checked, and it is taken whole.
  sox fl/base.wav -t raw - | flac -s -c --force-raw-format --endian=little --sign=signed --channels=2 --bps=16 \
    --sample-rate=44100 - 2>/dev/null >fl/stream.flac
  run 0 "$nubo" encode fl/stream.flac -o fl/stream.NAB
  run 0 "$nubo" verify fl/stream.NAB fl/base.wav
  # A whole file without an MD5 is taken.
  cp fl/base.flac fl/whole.flac
  no_md5 fl/whole.flac
  run 0 "$nubo" encode fl/whole.flac -o fl/whole.NAB
  run 0 "$nubo" verify fl/whole.NAB fl/base.wav
  # An ID3v2 tag in front (as taggers write them; flac reads past it): the
  # FLAC file is taken, by name and in a walk by content; a file that only
  # begins with a tag (an MP3) is passed over in the walk, named when given.
  mkdir -p fl/tagged
  id3() {  # VERSION FLAGS: a tag with 137 bytes (1 << 7 | 9) after its header
    printf "ID3\\$(printf %03o "$1")\\000\\$(printf %03o "$2")\\000\\000\\001\\011TIT2"
    head -c $((137 - 4)) /dev/zero
  }
  { id3 3 0; cat fl/base.flac; } >fl/tagged/v23.flac
  { id3 4 0; cat fl/base.flac; } >fl/tagged/v24.dat
  { id3 3 0; head -c 3000 /dev/urandom; } >fl/tagged/song.mp3
  flac -s -t fl/tagged/v23.flac fl/tagged/v24.dat 2>/dev/null ||
    fail "flac does not read the tagged FLAC files; the test files are not what they should be"
  run 0 "$nubo" encode fl/tagged/v23.flac -o fl/v23.NAB
  run 0 "$nubo" verify fl/v23.NAB fl/base.wav
  run 0 "$nubo" encode -r fl/tagged/ -o fl/walked/
  run 0 "$nubo" verify fl/walked/v24.NAB fl/base.wav
  [[ ! -e fl/walked/song.NAB ]] || fail "the MP3 in the walk was taken for audio"
  run 1 "$nubo" encode fl/tagged/song.mp3 -o fl/song.NAB
  [[ ! -e fl/song.NAB ]] || fail "the refused MP3 has an output under its final name"
  run 1 "$nubo" encode - -o fl/piped_tag.NAB < <(cat fl/tagged/v23.flac)
  expect_in err.txt "ID3v2 tag, which is stepped over only in a file, not on a pipe"
fi

# 6. A folder of 24-bit recordings: each named, exit 1.
mkdir -p rec
sox -R -n -r 48000 -b 24 -c 2 rec/a.wav synth 0.5 sine 440 gain -6
sox -R -n -r 48000 -b 24 -c 2 rec/b.wav synth 0.5 sine 660 gain -6
run 1 "$nubo" encode rec/ --report rec.jsonl
expect_in err.txt "rec/a.wav"
expect_in err.txt "rec/b.wav"
python3 -c '
import json, sys
for line in open("rec.jsonl"):
    r = json.loads(line)["reason"]
    assert r and not r.endswith(":"), r
' || fail "a report reason ends without naming its file: $(cat rec.jsonl)"

# A rerun of encode over a folder that holds its own outputs: the .NAB files
# are of another kind, passed over, and the rerun succeeds.
mkdir -p again
cp voice.wav again/a.wav
run 0 "$nubo" encode again
run 0 "$nubo" encode again
expect_in out.txt "1 file(s) of another kind passed over"

# 7. info of a file it cannot describe exits 1.
run 1 "$nubo" info arch/v23.NAB
expect_in err.txt "coder version 23"

# 8. -r walks directories whose names begin with a dot.
mkdir -p dots/.2019
cp OLD.NAB dots/.2019/take.NAB
run 0 "$nubo" upgrade -r dots -o dots_up/
[[ -e dots_up/.2019/take.NAB ]] || fail "-r passed over .2019/"

# 10, 11. The report lists every planned file once, also those a stop left
# unbegun, as valid JSON whatever the bytes of a name.
mkdir -p many
for i in 1 2 3 4 5; do cp OLD.NAB "many/t$i.NAB"; done
cp OLD.NAB "$(printf 'many/Caf\xe9.NAB')"
"$nubo" upgrade many/ -o many_up/ -j 1 --report stop.jsonl >stop.out 2>&1 &
pid=$!
for _ in $(seq 200); do [[ -n $(ls -A many_up 2>/dev/null) ]] && break; sleep 0.05; done
kill -INT "$pid" 2>/dev/null
wait "$pid"
json_lines stop.jsonl
[[ $(wc -l <stop.jsonl) -eq 6 ]] || fail "the report of a stopped run lists $(wc -l <stop.jsonl) of 6 files"
# The count line counts every file: the one cut short and those never begun are not converted.
converted=0 skipped=0 failed=0
read -r converted _ _ skipped _ _ _ failed _ < <(grep "file(s) converted" stop.out)
[[ $((converted + skipped + failed)) -eq 6 ]] ||
  fail "the count line of a stopped run does not add up to its 6 files: $(cat stop.out)"
python3 -c '
import json
names = [json.loads(l)["input"] for l in open("stop.jsonl", "rb")]
assert "many/Caf\udce9.NAB" in names, names
escaped = [json.loads(l)["names_escaped"] for l in open("stop.jsonl", "rb")]
assert escaped.count(True) == 1, escaped
' || fail "a name that is not UTF-8 is not in the report as documented: $(cat stop.jsonl)"

# 12. An output name too long for the file system fails its file, not the run.
mkdir -p longname
cp OLD.NAB longname/a.NAB
cp OLD.NAB "longname/$(printf 'b%.0s' $(seq 251)).NAB"  # 255 bytes; as .flac 256: too long
cp OLD.NAB longname/c.NAB
run 1 "$nubo" decode longname/ -o 'longname_up/*.flac' -j 1
[[ -e longname_up/a.flac && -e longname_up/c.flac ]] || fail "one name too long stopped the whole batch"
expect_in out.txt "2 file(s) converted  0 skipped (output existed)  1 file(s) not converted"

# 13. -o with '*' keeps what stands around it; other forms are refused.
run 0 "$nubo" encode voice.wav -o 'pre_*'
[[ -e pre_voice.NAB ]] || fail "-o 'pre_*' did not write pre_voice.NAB"
run 0 "$nubo" decode pre_voice.NAB -o '*.flac'
[[ $(head -c 4 pre_voice.flac) == fLaC ]] || fail "-o '*.flac' did not write FLAC"
run 2 "$nubo" encode voice.wav -o '*.aiff'
[[ ! -e '*.aiff' && ! -e voice.aiff ]] || fail "-o '*.aiff' wrote a file"
run 2 "$nubo" encode voice.wav -o '!'
[[ ! -e 'voice!.wav' ]] || fail "encode -o '!' wrote a compressed file named .wav"
run 2 "$nubo" encode voice.wav -o ''

# 14. True size figures: a file whose only block has a count extension.
sox -R -n -r 8000 -b 16 -c 1 tiny.wav synth 0.001 sine 440 gain -20
"$bin/make_old_nab" tiny.wav tiny.NAB 20 >/dev/null
run 0 "$nubo" upgrade tiny.NAB -o tiny22.NAB --report tiny.jsonl
change=$(awk '/% size change/ {print $1}' out.txt)
awk -v c="$change" 'BEGIN { exit !(c > -1000 && c < 1000) }' || fail "size change $change % for a tiny file"
# The report's sizes are those of the files, for every job.
[[ $(field_of tiny.jsonl tiny.NAB input_bytes) == $(stat -c %s tiny.NAB) &&
   $(field_of tiny.jsonl tiny.NAB output_bytes) == $(stat -c %s tiny22.NAB) ]] ||
  fail "upgrade's report gives sizes other than the files': $(cat tiny.jsonl)"
run 0 "$nubo" encode voice.wav -o sizes/voice.NAB --report sizes.jsonl
run 0 "$nubo" decode sizes/voice.NAB -o sizes/voice.flac --report decoded.jsonl
[[ $(field_of sizes.jsonl voice.wav input_bytes) == $(stat -c %s voice.wav) &&
   $(field_of sizes.jsonl voice.wav output_bytes) == $(stat -c %s sizes/voice.NAB) ]] ||
  fail "encode's report gives sizes other than the files': $(cat sizes.jsonl)"
[[ $(field_of decoded.jsonl sizes/voice.NAB output_bytes) == $(stat -c %s sizes/voice.flac) ]] ||
  fail "decode's report gives a size other than the FLAC file's: $(cat decoded.jsonl)"
"$nubo" encode - -o sizes/piped.NAB --report piped.jsonl <voice.wav >/dev/null 2>&1
[[ $(field_of piped.jsonl - input_bytes) == None ]] || fail "a standard input has a size in the report: $(cat piped.jsonl)"

# 17. Messages.
sox -R -n -r 40 -b 16 -c 1 slow.wav synth 1 sine 10 2>/dev/null
run 1 "$nubo" encode slow.wav
expect_in err.txt "below 50 Hz"
run 2 "$nubo" encode --verify music.wav -o /dev/null
expect_in err.txt "needs an output file"
run 0 "$nubo" upgrade OLD.NAB -o skip.NAB
run 0 "$nubo" upgrade OLD.NAB -o skip.NAB
expect_in out.txt "skip.NAB: skipped (output existed)"
run 2 "$nubo" upgrade --frobnicate
grep -q '^nubo: ' err.txt || fail "a usage error lacks the nubo: prefix: $(cat err.txt)"
run 1 "$nubo" test nowhere/take.NAB
expect_in err.txt "No such file or directory"
run 1 "$nubo" test music.wav
expect_in out.txt "0 file(s) damaged or incomplete  1 file(s) not compressed (.NAB) files"
"$nubo" test --help >out.txt 2>&1
expect_not_in out.txt "converted at once"
cp OLD.NAB "$(printf 'bell\a.NAB')"
run 0 "$nubo" upgrade "$(printf 'bell\a.NAB')" -o bell22.NAB
expect_not_in out.txt "$(printf '\a')"
umask 022
"$nubo" encode - -o stdin.NAB <music.wav >/dev/null 2>&1
[[ $(stat -c %a stdin.NAB) == 644 ]] || fail "an output of the standard input has mode $(stat -c %a stdin.NAB)"
# A WAVE input cut short warns alike from a file and from a pipe.
head -c 30000 voice.wav >cutvoice.wav
run 0 "$nubo" encode cutvoice.wav -o cutvoice.NAB
expect_in err.txt "The WAVE header's data size is wrong; the audio was read to the end of the file: cutvoice.wav [warning]"
run 0 "$nubo" encode - -o cutpipe.NAB < <(cat cutvoice.wav)
expect_in err.txt "The WAVE header's data size is wrong; the audio was read to the end of the file: (the standard input) [warning]"
cmp -s cutvoice.NAB cutpipe.NAB || fail "the cut WAVE file gives another output through a pipe"
# Past the file size limit (ulimit -f, in KiB) a write fails for its file
# alone, with the system's reason; nubo is not ended by SIGXFSZ.
(ulimit -f 100 && exec "$nubo" encode music.wav voice.wav -o xfsz/ -j 1) >out.txt 2>err.txt
status=$?
[[ $status == 1 ]] || fail "past the file size limit nubo exits $status (SIGXFSZ is 153): $(cat err.txt)"
expect_in err.txt "Cannot write the output file: xfsz/music.NAB (File too large"
[[ ! -e xfsz/music.NAB && -e xfsz/voice.NAB ]] || fail "the file size limit stopped the run or left music.NAB: $(ls -A xfsz)"
expect_in out.txt "1 file(s) converted  0 skipped (output existed)  1 file(s) not converted"
# test converts nothing: its words are those of a test.
run 1 "$nubo" test OLD.NAB music.wav --report words.jsonl
expect_not_in err.txt "converted"
expect_in err.txt "Not a compressed (.NAB) file: music.wav"
[[ $(field_of words.jsonl OLD.NAB result) == complete && $(field_of words.jsonl music.wav result) == failed ]] ||
  fail "a test's report speaks of converting: $(cat words.jsonl)"
expect_not_in words.jsonl "converted"

# 16. Fixity: record once, check later.
mkdir -p fix/sub
"$nubo" encode music.wav -o fix/a.NAB >/dev/null
"$nubo" encode voice.wav -o fix/sub/b.NAB >/dev/null
run 0 "$nubo" test --md5 -r fix/
cp out.txt fix.md5
run 0 "$nubo" test --check fix.md5
expect_in out.txt "2 file(s) hold the audio recorded  0 differ  0 missing"
# One changed block byte that still decodes (a sample's low bits), one file gone, one new.
cp fix/a.NAB a.keep
size=$(stat -c %s fix/a.NAB)
changed=0
for offset in $(seq 200 97 $((size - 10))); do
  cp a.keep fix/a.NAB
  byte=$(od -An -tu1 -j "$offset" -N1 fix/a.NAB | tr -d ' ')
  printf "\\$(printf %o $((byte ^ 1)))" | dd of=fix/a.NAB bs=1 seek="$offset" conv=notrunc status=none
  if "$nubo" test fix/a.NAB >/dev/null 2>&1; then changed=1; break; fi
done
[[ $changed == 1 ]] || fail "no single-byte change that still decodes was found"
run 1 "$nubo" test --check fix.md5
expect_in err.txt "the audio differs from the record fix.md5: fix/a.NAB"
mv fix/sub/b.NAB b.away
"$nubo" encode voice.wav -o fix/new.NAB >/dev/null
run 1 "$nubo" test --check fix.md5 -r fix/
expect_in err.txt "missing, recorded in fix.md5: fix/sub/b.NAB"
expect_in err.txt "not in the record fix.md5: fix/new.NAB"
mv b.away fix/sub/b.NAB
cp a.keep fix/a.NAB
rm fix/new.NAB
# Every name test --md5 prints, --check reads back: control characters and
# backslashes escaped as md5sum escapes them, so that no name breaks a line
# or forges one (the last name holds a line recording OLD.NAB).
mkdir -p odd
cp OLD.NAB "odd/$(printf 'new\nline.NAB')"
cp OLD.NAB 'odd/back\slash.NAB'
cp OLD.NAB 'odd/lit\x0a.NAB'
cp OLD.NAB "odd/$(printf 'bell\a and tab\t.NAB')"
cp OLD.NAB "odd/$(printf 'x.NAB\n00000000000000000000000000000000  OLD.NAB')"
cp OLD.NAB odd/plain.NAB
run 0 "$nubo" test --md5 odd/
cp out.txt odd.md5
[[ $(wc -l <odd.md5) == 6 && $(grep -c '^\\' odd.md5) == 5 ]] || fail "test --md5 wrote other lines: $(cat -A odd.md5)"
! grep -q '^0\{32\}  OLD.NAB' odd.md5 || fail "a name forged a line of test --md5"
run 0 "$nubo" test --check odd.md5
expect_in out.txt "6 file(s) hold the audio recorded  0 differ  0 missing"
run 0 "$nubo" test --check odd.md5 odd/
expect_in out.txt "6 file(s) hold the audio recorded  0 differ  0 missing  0 not recorded"
# A line escaped in a way nubo never writes is refused, not guessed at.
printf '\\0123456789abcdef0123456789abcdef  odd/plain\\q.NAB\n' >badescape.md5
run 2 "$nubo" test --check badescape.md5

# A report serves as the record too.
run 0 "$nubo" test -r fix/ --report fix.jsonl
run 0 "$nubo" test --check fix.jsonl
expect_in out.txt "2 file(s) hold the audio recorded"
run 2 "$nubo" test --check music.wav

# A report never replaces the record --check reads, nor a --files-from list.
cp fix.jsonl fix.keep
run 2 "$nubo" test --check fix.jsonl --report fix.jsonl -f
cmp -s fix.jsonl fix.keep || fail "the report replaced the record being checked"
# A record with a line that records nothing is refused, not half checked.
{ head -1 fix.md5; echo "70763bca7662e2227533bd551df0e4  fix/sub/b.NAB"; } >cut.md5
run 2 "$nubo" test --check cut.md5
expect_in err.txt "line"
# A listed "-" is the file of that name, not the standard input.
cp voice.wav ./-
echo - >dash.list
run 0 "$nubo" encode --files-from dash.list -o dash.NAB <music.wav
[[ $("$nubo" info dash.NAB | awk '/sample rate/ {print $3}') == 22050 ]] || fail "a listed - read the standard input"
rm ./-
# nubo has no name collision rule: an output named as its input is refused.
cp OLD.NAB TAKE.NAB
"$nubo" upgrade VOICE.NAB -o TAKE.NEB >/dev/null
cp TAKE.NEB neb.keep
run 1 "$nubo" upgrade TAKE.NAB -o '*.NAB' -f
cmp -s TAKE.NEB neb.keep || fail "a file nobody named (TAKE.NEB) was replaced"
# Empty option values are usage errors.
run 2 "$nubo" test OLD.NAB --report ''
run 2 "$nubo" test --files-from ''
run 2 "$nubo" decode OLD.NAB -o 'z/*.wav' --flac
# A directory where a definition file would be is not read.
mkdir -p lone/NUBOCONV.h
cp "$nubo" lone/
cp -P "$bin"/libnubocodec.so* lone/
run 0 lone/nubo test OLD.NAB

finish "trust"
