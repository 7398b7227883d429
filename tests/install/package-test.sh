#!/bin/sh
# Builds the Debian package, installs it into this machine, runs the program from PATH, and
# removes it again, leaving nothing behind. Needs root and dpkg; skipped (77) without them, and
# when a corvane package is already installed (it is never replaced by a test).
set -eu
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] && command -v dpkg >/dev/null || { echo "needs root and dpkg"; exit 77; }
if dpkg-query -W -f='${Status}' corvane 2>/dev/null | grep -q installed; then
    echo "a corvane package is installed already"
    exit 77
fi

rm -rf "$build/package"
(cd "$build" && cpack >/dev/null) || fail "cpack"
deb=$(ls "$build"/package/corvane_*.deb)
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libisofs6 libburn4 zlib1g libc6; do
    printf '%s\n' "$depends" | grep -q "$library" || fail "Depends lacks $library: $depends"
done

dpkg -i "$deb" >/dev/null || fail "dpkg -i"
trap 'dpkg -r corvane >/dev/null 2>&1 || true' EXIT
[ "$(command -v corvane)" = /usr/bin/corvane ] || fail "corvane is not on PATH"
[ "$(corvane --version)" = "corvane 1.1" ] || fail "corvane --version"
[ "$(corvane-restore --version)" = "corvane-restore 1.1" ] || fail "corvane-restore --version"
[ -f /usr/share/applications/corvane.desktop ] || fail "no menu entry"
installed=$(dpkg -L corvane)

dpkg -r corvane >/dev/null || fail "dpkg -r"
trap - EXIT
[ -z "$(dpkg -L corvane 2>/dev/null)" ] || fail "dpkg still lists files"
for path in $installed; do
    [ -d "$path" ] || [ ! -e "$path" ] || fail "$path is left behind"
done
echo "package $(basename "$deb") installed, ran and was removed"
