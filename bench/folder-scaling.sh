#!/usr/bin/env bash
# Part of make bench (bench/run.sh runs it; it also runs alone): backs up 10,000 and 40,000
# folders of one small file each onto one DVD image each, then lists each image with
# `corvane list` and scans it with the restore window (scan-timer, offscreen). Prints a
# Markdown table of the best times and peak RSS, then the checks: each command on 40,000
# folders within 4.5 times its time on 10,000 (linear in folders), the 10,000-stream scan
# under 1 s and the backup's peak RSS under 64 MiB. Exits 1 when a check fails, 2 when it
# cannot measure.
#   BENCH_ROUNDS  rounds; each command runs once per round, in turns, the best round counts
set -euo pipefail
shopt -s nullglob

repo=$(cd "$(dirname "$0")/.." && pwd)
corvane=$repo/build/corvane
tools=$repo/build/bench
rounds=${BENCH_ROUNDS:-3}
counts=(10000 40000)
max_ratio=4.5
export LC_NUMERIC=C

fail() { echo "folder-scaling: $*" >&2; exit 2; }
say() { echo "folder-scaling: $*" >&2; }
calc() { awk "BEGIN { printf \"%.${2:-1}f\", ($1) }"; }
[[ $rounds =~ ^[1-9][0-9]*$ ]] || fail "BENCH_ROUNDS must be a whole number"
for program in "$corvane" "$tools/make-corpus" "$tools/scan-timer"; do
    [ -x "$program" ] || fail "$program is missing: run 'make bench'"
done
for tool in timeout /usr/bin/time; do
    command -v "$tool" >/dev/null || fail "$tool is missing: scripts/deps.sh installs it"
done

# The trees on disk, the images and staging on tmpfs (the images take about 2.3 KB a folder).
work=$(mktemp -d "$tools/folders.XXXXXX")
shm=$(mktemp -d /dev/shm/corvane-folders.XXXXXX)
trap 'rm -rf "$work" "$shm"' EXIT
trap 'exit 130' INT TERM
mkdir -p "$shm/staging"

# A scan is stopped (status 124) after scan_limit seconds: far past its goal, and the rounds
# stay short; it counts as taking that long.
scan_limit=60
declare -A seconds rss
# timed KEY COMMAND...: runs COMMAND, keeps KEY's best seconds and the highest RSS (KiB) that
# GNU time wrote to $work/rss.
timed() {
    local key=$1
    shift
    : >"$work/rss"
    local start=$EPOCHREALTIME status=0
    "$@" >"$work/command.log" 2>&1 || status=$?
    if ((status == 124)); then
        say "$key: stopped after $scan_limit s"
    elif ((status != 0)); then
        tail -20 "$work/command.log" >&2
        fail "$key failed (exit status $status)"
    fi
    local took peak
    took=$(calc "$EPOCHREALTIME - $start" 3)
    ((status != 124)) || took=$scan_limit
    peak=$(grep -E '^[0-9]+$' "$work/rss" | tail -1 || echo 0)
    say "$key: $took s, $((peak / 1024)) MiB"
    if [ -z "${seconds[$key]:-}" ] || (($(calc "$took < ${seconds[$key]}" 0))); then seconds[$key]=$took; fi
    if ((peak > ${rss[$key]:-0})); then rss[$key]=$peak; fi
}

backup() {
    rm -rf "$shm/images$1" && mkdir -p "$shm/images$1"
    TMPDIR=$shm/staging /usr/bin/time -f %M -a -o "$work/rss" "$corvane" backup "$work/$1/folders" --images "$shm/images$1" --capacity dvd --yes
}
image_of() {
    local images=("$shm/images$1"/*.iso)
    ((${#images[@]} == 1)) || fail "$1 folders made ${#images[@]} images, not one"
    echo "${images[0]}"
}
list() { "$corvane" list "$(image_of "$1")" >/dev/null; }
scan() { timeout "$scan_limit" env QT_QPA_PLATFORM=offscreen "$tools/scan-timer" "$(image_of "$1")"; }

# Both trees are named "folders", the backups' label: the stream names ("folders 2612101743
# 39999.cvn") stay within the 31 characters of their ISO 9660 names. Longer names are cut to 31
# there, and the time libisofs takes to make the cut names unique grows faster than their
# number (12-character labels: 1.7 s for 10,000 folders, 9.9 s for 40,000).
for count in "${counts[@]}"; do
    say "generating $count folders"
    "$tools/make-corpus" folders "$work/$count/folders" "$count" >&2
    find "$work/$count/folders" -type f -print0 | xargs -0 cat >/dev/null
done
for ((round = 1; round <= rounds; ++round)); do
    say "round $round of $rounds"
    for command in backup list scan; do
        # The larger count first in every other round, so neither always runs on a warmer machine.
        order=("${counts[@]}")
        ((round % 2)) || order=("${counts[1]}" "${counts[0]}")
        for count in "${order[@]}"; do
            [ "$command" = backup ] || image_of "$count" >/dev/null
            timed "$command $count" "$command" "$count"
        done
    done
done

small=${counts[0]} large=${counts[1]}
echo "Folders of one small file each on one DVD image: backed up, listed with corvane list and"
echo "scanned by the restore window (scan-timer, offscreen); best of $rounds rounds."
echo
echo "| folders | backup s | backup peak RSS MiB | list s | scan s |"
echo "|---:|---:|---:|---:|---:|"
for count in "${counts[@]}"; do
    echo "| $count | ${seconds[backup $count]} | $(calc "${rss[backup $count]} / 1024") |" \
        "${seconds[list $count]} | ${seconds[scan $count]} |"
done
echo
echo "| check | result | measured |"
echo "|---|---|---|"
failed=0
check() {
    local verdict=PASS
    (($(calc "$2" 0))) || { verdict=FAIL; failed=1; }
    echo "| $1 | $verdict | $3 |"
}
for command in backup list scan; do
    ratio=$(calc "${seconds[$command $large]} / ${seconds[$command $small]}" 2)
    check "$command of $large folders ≤ $max_ratio × $small" "$ratio <= $max_ratio" \
        "${seconds[$command $large]} s vs ${seconds[$command $small]} s: $ratio ×"
done
check "$small-stream disc scanned in < 1 s" "${seconds[scan $small]} < 1" "${seconds[scan $small]} s"
check "backup of $large folders: peak RSS < 64 MiB" "${rss[backup $large]} < 64 * 1024" \
    "$(calc "${rss[backup $large]} / 1024") MiB"
exit "$failed"
