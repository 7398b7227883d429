#!/usr/bin/env bash
# Seed inputs for the fuzz targets, made by the program itself.
#
#   fuzz/make-seeds.sh streams
#       Backs up a tiny tree onto an image disc with build/corvane (make build first), once
#       plainly and once with a password, takes the stream files out of the images with xorriso
#       and writes the checked-in seeds of fuzz/corpus/: whole streams (list_stream, extract),
#       their folder headers (stream_header), their names (stream_name) and the stored folder
#       paths and file names (stored_path).
#   fuzz/make-seeds.sh image DIR
#       Writes small disc images holding the checked-in streams into DIR, the seeds of
#       image_reader: one with Rock Ridge and Joliet names, as the program records them, one
#       with Joliet names only and one with plain ISO 9660 names. An image is some tens of KiB,
#       so they are made at fuzz time rather than checked in.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
corpus=$here/corpus

make_image() {
  local out=${1:?usage: make-seeds.sh image DIR}
  local staging
  staging=$(mktemp -d)
  mkdir -p "$staging/sub folder" "$out"
  cp "$corpus"/list_stream/*.cvn "$staging/"
  cp "$corpus"/list_stream/plain-1.cvn "$staging/sub folder/"
  # Names from Rock Ridge, from Joliet alone, and from the plain ISO 9660 tree alone.
  local names n=0
  for names in "-R -J" "--norock -J" "--norock"; do
    n=$((n + 1))
    xorriso -as mkisofs -quiet $names -no-pad -V "USB 0812251430 0$n" \
      -o "$out/disc 0$n.iso" "$staging" 2>/dev/null
  done
  rm -rf "$staging"
}

# Bytes 4.. of a stream up to the end of its folder header: PathLength, FolderPath, Password.
header_length() { echo $(( 4 + $(od -An -t u4 -N 4 "$1") + 16 )); }

make_streams() {
  local corvane=$here/../build/corvane
  [ -x "$corvane" ] || { echo "make-seeds.sh: build the program first (make build)" >&2; exit 1; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT

  # The tiny tree: a file at the root, nested folders with non-ASCII names, an empty file and
  # one of two chunks.
  local tree=$work/USB
  mkdir -p "$tree/Docs/Été" "$tree/Empty"
  printf 'hello\n' > "$tree/readme.txt"
  seq 1 40 | sed 's/^/line /' > "$tree/Docs/notes.txt"
  : > "$tree/Docs/empty.txt"
  seq 1 1200 | sed 's/^/row /' > "$tree/Docs/Été/two chunks.txt"
  printf 'secret' > "$work/password"

  "$corvane" backup "$tree" --images "$work/plain" --capacity 64M --yes > /dev/null
  "$corvane" backup "$tree" --images "$work/locked" --capacity 64M --yes \
    --password-file "$work/password" > /dev/null

  rm -rf "$corpus"
  mkdir -p "$corpus"/{stream_name,stored_path,stream_header,list_stream,extract}
  local kind image stream name n=0
  for kind in plain locked; do
    for image in "$work/$kind"/*.iso; do
      mkdir -p "$work/$kind-out"
      xorriso -osirrox on -indev "stdio:$image" -extract / "$work/$kind-out" 2>/dev/null
    done
    while IFS= read -r -d '' stream; do
      n=$((n + 1))
      name=$(basename "$stream")
      cp "$stream" "$corpus/list_stream/$kind-$n.cvn"
      cp "$stream" "$corpus/extract/$kind-$n.cvn"
      head -c "$(header_length "$stream")" "$stream" > "$corpus/stream_header/$kind-$n"
      printf '%s' "$name" > "$corpus/stream_name/$kind-$n"
      tail -c +5 "$corpus/stream_header/$kind-$n" | head -c -16 > "$corpus/stored_path/folder-$n"
    done < <(find "$work/$kind-out" -name '*.cvn' -print0 | sort -z)
  done
  local file
  for file in readme.txt empty.txt "two chunks.txt" "Été"; do
    n=$((n + 1))
    printf '%s' "$file" > "$corpus/stored_path/name-$n"
  done
  chmod 644 "$corpus"/*/*
  echo "Seeds in $corpus: $(find "$corpus" -type f | wc -l) files, $(cat "$corpus"/*/* | wc -c) bytes"
}

case "${1:-}" in
  streams) make_streams ;;
  image) make_image "${2:-}" ;;
  *) echo "usage: make-seeds.sh streams | image DIR" >&2; exit 2 ;;
esac
