#!/usr/bin/env bash
# make bench: Corvane's backup and restore against tar|gzip, tar|pigz and dar on a generated
# corpus like a USB stick, the codec's limit on this machine, the memory a 1 GB file adds to a
# backup, and how backup, list and the restore window's scan grow with the number of folders
# (bench/folder-scaling.sh). Prints a Markdown table and the checks, writes
# them to build/bench/results.md, and exits 1 when a check fails.
#   BENCH_MB      corpus size in MB of 10^6 bytes (default 300)
#   BENCH_ROUNDS  rounds; every command runs once per round, in turns, the best round counts
set -euo pipefail
shopt -s nullglob

repo=$(cd "$(dirname "$0")/.." && pwd)
corvane=$repo/build/corvane
tools=$repo/build/bench
megabytes=${BENCH_MB:-300}
rounds=${BENCH_ROUNDS:-3}
seed=2024
export LC_NUMERIC=C  # decimal points for awk and printf
run_start=$EPOCHREALTIME

fail() { echo "bench: $*" >&2; exit 1; }
[[ $megabytes =~ ^[1-9][0-9]*$ ]] || fail "BENCH_MB must be a whole number of megabytes"
[[ $rounds =~ ^[1-9][0-9]*$ ]] || fail "BENCH_ROUNDS must be a whole number"
for program in "$corvane" "$tools/make-corpus" "$tools/codec-limit" "$tools/scan-timer"; do
    [ -x "$program" ] || fail "$program is missing: run 'make bench'"
done
for tool in tar gzip pigz dar diff timeout /usr/bin/time; do
    command -v "$tool" >/dev/null || fail "$tool is missing: scripts/deps.sh installs it"
done

# Everything big lives in two private folders, removed on every way out.
work=$(mktemp -d "$tools/run.XXXXXX")
shm=$(mktemp -d /dev/shm/corvane-bench.XXXXXX)
trap 'rm -rf "$work" "$shm"' EXIT
trap 'exit 130' INT TERM

say() { echo "bench: $*" >&2; }
calc() { awk "BEGIN { printf \"%.${2:-1}f\", ($1) }"; }
bytes_in() { find "$1" -type f -printf '%s\n' | awk '{ s += $1 } END { print s + 0 }'; }

corpus=$work/corpus
say "generating a ${megabytes} MB corpus"
"$tools/make-corpus" stick "$corpus" "$megabytes" "$seed" >&2
corpus_bytes=$(bytes_in "$corpus")
corpus_files=$(find "$corpus" -type f | wc -l)
corpus_folders=$(find "$corpus" -mindepth 1 -type d | wc -l)

# Outputs go to tmpfs when it has room for all of them and the restored tree, else to disk.
shm_free=$(df -B1 --output=avail /dev/shm | tail -1)
((shm_free > 2 * corpus_bytes)) || fail "/dev/shm has too little room to restore into"
if ((shm_free > 7 * corpus_bytes)); then
    out=$shm/out
    out_place="/dev/shm (tmpfs)"
else
    out=$work/out
    out_place="build/bench on disk"
fi
dest=$shm/restored
mkdir -p "$out/staging"

# Each command of a pipeline runs under GNU time; the largest process is the pipeline's RSS.
rss_log=$work/rss
T=(/usr/bin/time -f %M -a -o "$rss_log")

backup_corvane() { TMPDIR=$out/staging "${T[@]}" "$corvane" backup "$1" --images "$2" --capacity dvd --yes; }
backup_gzip() { "${T[@]}" tar -cf - -C "$corpus" . | "${T[@]}" gzip -6 >"$out/gzip/corpus.tar.gz"; }
backup_pigz() { "${T[@]}" tar -cf - -C "$corpus" . | "${T[@]}" pigz -6 -p2 >"$out/pigz/corpus.tar.gz"; }
backup_dar() { "${T[@]}" dar -c "$out/dar/corpus" -R "$corpus" -z6 -s 700M -Q -N -q; }
restore_corvane() { "${T[@]}" "$corvane" restore "$out/corvane"/*.iso --to "$dest" --overwrite yes; }
restore_gzip() { "${T[@]}" tar -xzf "$out/gzip/corpus.tar.gz" -C "$dest"; }
restore_pigz() { "${T[@]}" pigz -dc "$out/pigz/corpus.tar.gz" | "${T[@]}" tar -x -C "$dest"; }
restore_dar() { "${T[@]}" dar -x "$out/dar/corpus" -R "$dest" -Q -N -q -O; }

declare -A seconds rss
# measure KEY FOLDER COMMAND...: empties FOLDER, runs COMMAND, keeps KEY's best seconds and
# highest RSS (KiB).
measure() {
    local key=$1 folder=$2
    shift 2
    rm -rf "$folder" && mkdir -p "$folder"
    : >"$rss_log"
    local start=$EPOCHREALTIME
    local status=0
    "$@" >"$work/command.log" 2>&1 || status=$?
    if ((status != 0)); then
        tail -20 "$work/command.log" >&2
        fail "$key failed (exit status $status)"
    fi
    local took
    took=$(calc "$EPOCHREALTIME - $start" 3)
    local peak
    peak=$(grep -E '^[0-9]+$' "$rss_log" | sort -n | tail -1)
    say "$key: $took s, $((peak / 1024)) MiB"
    if [ -z "${seconds[$key]:-}" ] || (($(calc "$took < ${seconds[$key]}" 0))); then seconds[$key]=$took; fi
    if ((peak > ${rss[$key]:-0})); then rss[$key]=$peak; fi
}

same_as_corpus() {
    diff -r "$corpus" "$dest" >"$work/diff.log" 2>&1 || {
        head -20 "$work/diff.log" >&2
        fail "the tree restored by $1 differs from the corpus"
    }
}

say "reading the corpus once so that every command finds it in the page cache"
find "$corpus" -type f -print0 | xargs -0 cat >/dev/null

backups=(corvane gzip pigz dar)
best_one_core=0 best_limit=0 cores=1
for ((round = 1; round <= rounds; ++round)); do
    say "backup round $round of $rounds"
    for ((i = 0; i < ${#backups[@]}; ++i)); do
        tool=${backups[(i + round - 1) % ${#backups[@]}]}
        if [ "$tool" = corvane ]; then
            measure "backup corvane" "$out/corvane" backup_corvane "$corpus" "$out/corvane"
        else
            measure "backup $tool" "$out/$tool" "backup_$tool"
        fi
    done
    limit_line=$("$tools/codec-limit" "$corpus" | tail -1)
    [[ $limit_line =~ one_core_mbps=([0-9.]+)\ cores=([0-9]+)\ limit_mbps=([0-9.]+) ]] ||
        fail "codec-limit printed '$limit_line'"
    say "codec limit: $limit_line"
    cores=${BASH_REMATCH[2]}
    if (($(calc "${BASH_REMATCH[3]} > $best_limit" 0))); then
        best_one_core=${BASH_REMATCH[1]} best_limit=${BASH_REMATCH[3]}
    fi
done

for ((round = 1; round <= rounds; ++round)); do
    say "restore round $round of $rounds"
    for ((i = 0; i < ${#backups[@]}; ++i)); do
        tool=${backups[(i + round - 1) % ${#backups[@]}]}
        measure "restore $tool" "$dest" "restore_$tool"
        ((round > 1)) || same_as_corpus "$tool"
    done
done
rm -rf "$dest"

say "backing up, listing and scanning discs of 10,000 and 40,000 folders"
folders_status=0
"$repo/bench/folder-scaling.sh" >"$work/folders.md" || folders_status=$?
((folders_status <= 1)) || fail "folder-scaling.sh failed (exit status $folders_status)"

say "backing up the corpus with a 1 GB file added"
cp -al "$corpus" "$work/corpus+1G"
truncate -s 1G "$work/corpus+1G/one gigabyte.bin"
for ((round = 1; round <= rounds; ++round)); do
    measure "backup corvane +1 GB" "$out/corvane+1G" backup_corvane "$work/corpus+1G" "$out/corvane+1G"
done
rm -rf "$work/corpus+1G" "$out/corvane+1G"

# The table.
mbps() { calc "$corpus_bytes / 1e6 / ${seconds[$1]}"; }
mb_of() { calc "$(bytes_in "$1") / 1e6"; }
mib() { calc "${rss[$1]} / 1024"; }
row() { echo "| $1 | $2 | $3 | $4 | $5 |"; }
gzip_backup=$(mbps "backup gzip")
gzip_restore=$(mbps "restore gzip")
images_mb=$(mb_of "$out/corvane")
targz_mb=$(mb_of "$out/gzip")
rss_growth=$(calc "(${rss[backup corvane +1 GB]} - ${rss[backup corvane]}) * 100 / ${rss[backup corvane]}")

report=$work/results.md
{
    echo "### Corvane benchmark"
    echo
    echo "Corpus: $(calc "$corpus_bytes / 1e6") MB in $corpus_files files and $corpus_folders folders (seed $seed)." \
        "Outputs in $out_place, restores into /dev/shm (tmpfs); warm page cache; best of $rounds rounds;" \
        "$cores cores, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end. MB = 10^6 bytes."
    echo
    echo "| command | MB/s of input | ratio | output MB | peak RSS MiB |"
    echo "|---|---:|---:|---:|---:|"
    row "corvane backup (DVD images)" "$(mbps "backup corvane")" "$(calc "$(mbps "backup corvane") / $gzip_backup" 2)" \
        "$images_mb" "$(mib "backup corvane")"
    row "tar \\| gzip -6" "$gzip_backup" "1.00" "$targz_mb" "$(mib "backup gzip")"
    row "tar \\| pigz -6 -p2" "$(mbps "backup pigz")" "$(calc "$(mbps "backup pigz") / $gzip_backup" 2)" \
        "$(mb_of "$out/pigz")" "$(mib "backup pigz")"
    row "dar -c -z6 -s 700M" "$(mbps "backup dar")" "$(calc "$(mbps "backup dar") / $gzip_backup" 2)" \
        "$(mb_of "$out/dar")" "$(mib "backup dar")"
    row "limit: EncodeChunk, $best_one_core MB/s × $cores cores" "$best_limit" \
        "$(calc "$best_limit / $gzip_backup" 2)" "" ""
    row "corvane restore" "$(mbps "restore corvane")" "$(calc "$(mbps "restore corvane") / $gzip_restore" 2)" "" \
        "$(mib "restore corvane")"
    row "tar -xzf" "$gzip_restore" "1.00" "" "$(mib "restore gzip")"
    row "pigz -dc \\| tar -x" "$(mbps "restore pigz")" "$(calc "$(mbps "restore pigz") / $gzip_restore" 2)" "" \
        "$(mib "restore pigz")"
    row "dar -x" "$(mbps "restore dar")" "$(calc "$(mbps "restore dar") / $gzip_restore" 2)" "" "$(mib "restore dar")"
    echo
    echo "Ratio: MB/s against tar | gzip -6 for backups, against tar -xzf for restores."
    echo "Peak RSS of corvane backup with a 1 GB file added to the corpus: $(mib "backup corvane +1 GB") MiB" \
        "($rss_growth %)."
    echo
    echo "| check | result | measured |"
    echo "|---|---|---|"
} >"$report"

failed=0
# check DESCRIPTION CONDITION MEASURED: one row of the checks table.
check() {
    local verdict=PASS
    (($(calc "$2" 0))) || { verdict=FAIL; failed=1; }
    echo "| $1 | $verdict | $3 |" >>"$report"
}
corvane_backup=$(mbps "backup corvane")
pigz_backup=$(mbps "backup pigz")
check "corvane backup ≥ 1.1 × tar \\| pigz -6 -p2" "$corvane_backup >= 1.1 * $pigz_backup" \
    "$corvane_backup vs $(calc "1.1 * $pigz_backup") MB/s"
check "corvane backup ≥ 0.75 × limit" "$corvane_backup >= 0.75 * $best_limit" \
    "$corvane_backup vs $(calc "0.75 * $best_limit") MB/s"
check "corvane restore ≥ pigz -dc \\| tar -x" "$(mbps "restore corvane") >= $(mbps "restore pigz")" \
    "$(mbps "restore corvane") vs $(mbps "restore pigz") MB/s"
check "corvane backup peak RSS < 64 MiB" "${rss[backup corvane]} < 64 * 1024" "$(mib "backup corvane") MiB"
check "a 1 GB file changes that RSS by < 10 %" "($rss_growth < 10) && ($rss_growth > -10)" "$rss_growth %"
check "images ≤ 1.15 × .tar.gz (gzip -6)" "$images_mb <= 1.15 * $targz_mb" \
    "$images_mb vs $(calc "1.15 * $targz_mb") MB"
echo >>"$report"
cat "$work/folders.md" >>"$report"
((folders_status == 0)) || failed=1
echo >>"$report"
echo "The run took $(calc "($EPOCHREALTIME - $run_start) / 60") minutes." >>"$report"

cp "$report" "$tools/results.md"
cat "$report"
exit "$failed"
