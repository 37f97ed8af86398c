#!/usr/bin/env bash
# SPDX-License-Identifier: BSD-3-Clause
# An archive split across workers as a scheduler would split it: the file
# list of one tree cut into two shards, each upgraded by its own nubo process
# under GNU parallel with --files-from and --report, the reports merged. The
# result must be the tree that one nubo run makes, every file reported once.
# Usage: shard_test.sh BIN_DIR WORK_DIR
set -uo pipefail
source "$(dirname "$0")/lib.sh" "$@"
command -v parallel >/dev/null || { echo "SKIP: GNU parallel is not installed (apt-get install parallel)"; exit 77; }


sox -R -D -n -r 44100 -b 16 -c 2 a.wav synth 2.3 pluck C3 pinknoise remix 1,2 2,1 gain -12 2>/dev/null
sox -R -D -n -r 22050 -b 16 -c 1 b.wav synth 1.7 square 110 lowpass 1500 gain -12 2>/dev/null
mkdir -p archive/2019 archive/2021/live 'archive/with space'
i=0
for dir in archive/2019 archive/2021 archive/2021/live 'archive/with space'; do
  for v in 20 21; do
    "$bin/make_old_nab" $([[ $((i % 2)) == 0 ]] && echo a.wav || echo b.wav) "$dir/T$i.NAB" $v
    i=$((i + 1))
  done
done
echo "not audio" >archive/2019/notes.txt
md5_before=$(find archive -type f -print0 | sort -z | xargs -0 md5sum)

# The reference: one run over the whole tree.
"$nubo" -q upgrade -r archive -o single/ || fail "the single run failed"

# The shards: the list of files, relative to where the jobs run, cut in two.
(find archive -type f -name '*.NAB' -print0 | sort -z) >all.list
tr '\0' '\n' <all.list >all.txt
split -n l/2 all.txt shard.
ls shard.* >/dev/null 2>&1 || fail "no shards"
parallel --halt now,fail=1 "$nubo" -q upgrade --files-from {} -o sharded/ --report {}.jsonl ::: shard.* ||
  fail "a shard failed"
cat shard.*.jsonl >merged.jsonl

# The same tree, byte for byte (the listed paths keep their directories).
diff -r single/ sharded/archive/ >diff.txt || fail "sharded output differs from a single run: $(head -5 diff.txt)"
# Every old file reported once, as converted.
reported=$(grep -c '"result":"converted"' merged.jsonl)
expected=$(tr -cd '\0' <all.list | wc -c)
[[ $reported == "$expected" ]] || fail "$reported files reported converted, $expected expected: $(cat merged.jsonl)"
[[ $(grep -o '"input":"[^"]*"' merged.jsonl | sort | uniq -d | wc -l) == 0 ]] || fail "a file was reported twice"
grep -q '"input":"archive/with space/T6.NAB"' merged.jsonl || fail "a name with a blank is missing from the reports"
# NUL-separated lists from find -print0 work the same.
"$nubo" -q upgrade --files-from all.list --null -o nul/ || fail "a --null list failed"
diff -r single/ nul/archive/ >/dev/null || fail "the --null run differs from a single run"
# The same list from stdin, with -j 1 and the default, gives the same report.
tr '\0' '\n' <all.list | "$nubo" -q test --files-from - -j 1 --report test1.jsonl || fail "test of the list failed"
tr '\0' '\n' <all.list | "$nubo" -q test --files-from - --report testn.jsonl || fail "test of the list failed"
diff <(cut -d, -f1-4 test1.jsonl) <(cut -d, -f1-4 testn.jsonl) >/dev/null || fail "-j changed the report's order or results"

[[ "$(find archive -type f -print0 | sort -z | xargs -0 md5sum)" == "$md5_before" ]] || fail "an input changed"
finish "sharded upgrade"
