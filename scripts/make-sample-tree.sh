#!/usr/bin/env bash
# Writes a small folder tree that looks like a USB stick: nested folders, text and binary
# files (some larger than 4 KiB), an empty file and an empty folder, names with spaces and
# non-ASCII letters. The content is the same on every run.
set -euo pipefail
root=${1:?usage: make-sample-tree.sh FOLDER [MEGABYTES]}
megabytes=${2:-24}

# Deterministic bytes that do not compress: zeros through a stream cipher with a fixed key.
noise() { head -c "$1" /dev/zero | openssl enc -aes-128-ctr -nosalt -K "$(printf %032x "$2")" -iv "$(printf %032x 0)"; }
# Text that compresses well.
text() { seq 1 "$1" | sed 's/^/line /'; }

rm -rf "$root"
mkdir -p "$root/Documents/Reports 2008" "$root/Photos/Été à Montréal" "$root/Music" "$root/Videos" \
         "$root/Empty Folder" "$root/Projects/corvane/src/deep/deeper/deepest"
text 20 > "$root/readme.txt"
text 3000 > "$root/Documents/notes.txt"
text 50000 > "$root/Documents/Reports 2008/annual report.txt"
: > "$root/Documents/empty.txt"
printf 'x' > "$root/Documents/one byte"
noise 4095 11 > "$root/Projects/corvane/src/a-4095.bin"
noise 4096 12 > "$root/Projects/corvane/src/b-4096.bin"
noise 4097 13 > "$root/Projects/corvane/src/c-4097.bin"
text 200 > "$root/Projects/corvane/src/deep/deeper/deepest/bottom.txt"
noise $((megabytes * 1024 * 1024 / 8)) 21 > "$root/Photos/Été à Montréal/pont Jacques-Cartier.jpg"
noise $((megabytes * 1024 * 1024 / 8)) 22 > "$root/Photos/Été à Montréal/Mont Royal.jpg"
noise $((megabytes * 1024 * 1024 / 5)) 23 > "$root/Music/Übung in C-Dur.ogg"
noise $((megabytes * 1024 * 1024 / 4)) 25 > "$root/Videos/holiday.mp4"
noise 700000 24 > "$root/Photos/Zürich.png"
echo "Sample tree in $root: $(find "$root" -type f | wc -l) files, $(du -sh "$root" | cut -f1)"
