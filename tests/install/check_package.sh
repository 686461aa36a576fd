#!/usr/bin/env bash
# Builds the Debian package and unpacks it into a throwaway root to check its file list and dependencies.
set -euo pipefail
build=$1
work=$(mktemp -d /tmp/postira-deb.XXXXXX)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/out" >/dev/null)
deb=$(ls "$work"/out/*.deb)
dpkg -x "$deb" "$work/root"
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=$((fail + 1)); fi; }
for f in usr/bin/postira usr/bin/postira-run usr/share/applications/postira.desktop \
         usr/share/icons/hicolor/scalable/apps/postira.svg usr/share/icons/hicolor/256x256/apps/postira.png \
         usr/share/postira/help/index.html usr/share/man/man1/postira-run.1; do
  check "$f in the package" "[ -e '$work/root/$f' ]"
done
others=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/ *(.*//; s/^ *//' |
         grep -v -E '^(libqt6widgets6|libqt6network6|libqt6networkauth6|libqt6keychain1|libqt6svg6|libssl3)$' || true)
check "dependencies are Qt 6, QtKeychain and OpenSSL only" "[ -z '$others' ]"
check "nothing outside /usr" "[ \"\$(ls '$work/root')\" = usr ]"
echo "package $(basename "$deb"): $(stat -c %s "$deb") bytes, $(find "$work/root" -type f | wc -l) files"
echo "$(( 9 - fail )) passed, $fail failed"
[ "$fail" -eq 0 ]
