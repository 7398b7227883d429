#!/usr/bin/env bash
# The main job, end to end: backs up a generated sample tree onto image-file discs small
# enough that the backup spans several of them, then shows what each disc holds, as a peer
# ISO reader (xorriso) sees it, and restores everything from the images and compares.
set -euo pipefail
cd "$(dirname "$0")/.."
# CORVANE and DEMO_DIR let the test suite run it on its own build.
corvane=${CORVANE:-build/corvane}
work=${DEMO_DIR:-build/demo}
rm -rf "$work"
mkdir -p "$work"

scripts/make-sample-tree.sh "$work/USB STICK" 24

# Each disc also carries the program and the portable restorer, and a folder never spans two
# discs: make the discs large enough for both programs and the largest folder, and small
# enough to need several.
program_mib=$(( ($(stat -c %s "$corvane") + $(stat -c %s "$(dirname "$corvane")/corvane-restore")) / 1048576 + 1 ))
capacity="$(( program_mib + 8 ))M"
echo
echo "== Backing up onto $capacity image discs"
"$corvane" backup "$work/USB STICK" --images "$work/discs" --capacity "$capacity" --yes

echo
echo "== What each disc holds"
for image in "$work"/discs/*.iso; do
  echo "-- $image ($(stat -c %s "$image") bytes)"
  xorriso -indev "stdio:$image" -lsl / 2>/dev/null | sed 's/^/   /'
done

echo
echo "== Restoring everything from the images (read without mounting them)"
mkdir -p "$work/restored"
"$corvane" restore "$work"/discs/*.iso --to "$work/restored"
if diff -r "$work/USB STICK" "$work/restored"; then
  echo "Every file came back identical: $(find "$work/restored" -type f | wc -l) files."
else
  echo "The restored tree differs from the original." >&2
  exit 1
fi
