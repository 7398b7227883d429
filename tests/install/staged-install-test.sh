#!/bin/sh
# Installs the build into a DESTDIR and checks what a desktop would find there: every file in
# its place, the desktop entry, AppStream data and manual pages valid, the file types
# registered, the programs running, and the completions offering the commands' options.
set -eu
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A component install writes its own manifest, so a user's `make uninstall` list is kept.
DESTDIR="$stage" cmake --install "$build" --prefix /usr/local --component Unspecified >/dev/null
root=$stage/usr/local
rm -f "$build/install_manifest_Unspecified.txt"

for file in bin/corvane bin/corvane-restore share/applications/corvane.desktop \
    share/metainfo/org.corvane.Corvane.metainfo.xml share/mime/packages/corvane.xml \
    share/man/man1/corvane.1 share/man/man1/corvane-restore.1 \
    share/bash-completion/completions/corvane share/bash-completion/completions/corvane-restore; do
    [ -s "$root/$file" ] || fail "$file is not installed"
done
for size in 16 24 32 48 64 128 256; do
    icon=$root/share/icons/hicolor/${size}x$size/apps/corvane.png
    file "$icon" | grep -q "PNG image data, $size x $size" || fail "no $size px icon"
done
[ -x "$root/bin/corvane" ] && [ -x "$root/bin/corvane-restore" ] || fail "programs not executable"

desktop-file-validate "$root/share/applications/corvane.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root/share/metainfo/org.corvane.Corvane.metainfo.xml" >/dev/null ||
    fail "AppStream data"

# The manual pages render without a warning, and hold every command and option of --help.
for page in corvane corvane-restore; do
    warnings=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$root/share/man/man1/$page.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1: $warnings"
done
text=$(MANWIDTH=200 man -E UTF-8 -l "$root/share/man/man1/corvane.1" 2>/dev/null)
commands=$("$root/bin/corvane" help | awk '/^Commands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }')
[ -n "$commands" ] || fail "no commands in corvane help"
for command in $commands; do
    [ "$command" = help ] || [ "$command" = --version ] && continue
    printf '%s\n' "$text" | grep -q "^   $command\$" || fail "corvane.1 has no section for $command"
    for option in $("$root/bin/corvane" "$command" --help | grep -o -- '--[a-z][a-z-]*' | sort -u); do
        printf '%s\n' "$text" | grep -q -- "$option" || fail "corvane.1 lacks $command $option"
    done
done

# The installed programs run.
[ "$("$root/bin/corvane" --version)" = "corvane 1.1" ] || fail "corvane --version"
[ "$("$root/bin/corvane-restore" --version)" = "corvane-restore 1.1" ] || fail "corvane-restore --version"
"$root/bin/corvane" --help | grep -q "^Usage: corvane" || fail "corvane --help"

# Completion: command words, a command's options, and the answers an option lists.
complete_words() {
    bash -c '. "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1)); _corvane; echo "${COMPREPLY[*]}"' \
        sh "$root/share/bash-completion/completions/corvane" "$@"
}
[ "$(complete_words corvane re)" = "restore" ] || fail "completion of a command: $(complete_words corvane re)"
[ "$(complete_words corvane restore disc.iso --o)" = "--only --overwrite" ] ||
    fail "completion of options: $(complete_words corvane restore disc.iso --o)"
[ "$(complete_words corvane restore disc.iso --overwrite '')" = "yes no ask" ] ||
    fail "completion of answers: $(complete_words corvane restore disc.iso --overwrite '')"

# The file types: *.cvn gets its own type, and disc images and stream files open with Corvane.
update-mime-database "$root/share/mime"
grep -q ':application/x-corvane-stream:\*\.cvn' "$root/share/mime/globs2" || fail "*.cvn type not registered"
update-desktop-database "$root/share/applications"
for type in application/x-cd-image application/vnd.efi.iso application/x-corvane-stream; do
    grep -q "^$type=.*corvane.desktop" "$root/share/applications/mimeinfo.cache" || fail "$type not declared"
done
if command -v xdg-mime >/dev/null; then
    default=$(HOME=$stage XDG_DATA_HOME=$stage/data XDG_CONFIG_HOME=$stage/config XDG_CURRENT_DESKTOP= \
        XDG_DATA_DIRS="$root/share" xdg-mime query default application/x-cd-image)
    [ "$default" = corvane.desktop ] || fail "xdg-mime names '$default' for disc images"
fi

# The entry's Exec line opens the restore window on the file it is given, whose path may
# contain spaces: a file that is no disc reaches the window's own check intact.
exec_line=$(sed -n 's/^Exec=//p' "$root/share/applications/corvane.desktop" | head -n 1)
[ "$exec_line" = "corvane %F" ] || fail "unexpected Exec line '$exec_line'"
mkdir "$stage/My Discs"
odd="$stage/My Discs/not a disc.txt"
echo text >"$odd"
set +e
message=$(PATH="$root/bin:$PATH" QT_QPA_PLATFORM=offscreen corvane "$odd" 2>&1)
status=$?
set -e
[ "$status" -eq 2 ] || fail "opening a file that is no disc ended with $status: $message"
[ "$message" = "corvane browse: $odd is neither a folder nor a disc image" ] || fail "message: $message"
echo "staged install complete and valid"
