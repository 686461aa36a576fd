#!/usr/bin/env bash
# Installs the build into a temporary prefix and checks the installed tree: both programs start, the desktop
# entry is valid, the guide and the icons are where the desktop and the help engine look for them.
set -euo pipefail
build=$1
prefix=$(mktemp -d /tmp/postira-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$build" --prefix "$prefix" >/dev/null
fail=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; fail=$((fail + 1)); fi; }

check "postira installed" "[ -x '$prefix/bin/postira' ]"
check "postira-run starts and tells its version" "'$prefix/bin/postira-run' --version | grep -q '^postira-run [0-9]\+\.[0-9]\+\.[0-9]\+\.[0-9]\+$'"
check "postira-run --help" "'$prefix/bin/postira-run' --help | grep -q 'Aufruf: postira-run'"
check "postira starts" "QT_QPA_PLATFORM=offscreen XDG_DATA_HOME='$prefix/home' timeout 5 '$prefix/bin/postira' >/dev/null 2>&1; [ \$? -eq 124 ]"
check "desktop entry valid" "desktop-file-validate '$prefix/share/applications/postira.desktop'"
check "guide where the installed help engine looks (bin/../share/postira/help)" "[ -f '$prefix/bin/../share/postira/help/index.html' ] && [ -f '$prefix/share/postira/help/empfaengerliste.html' ]"
check "scalable icon" "[ -f '$prefix/share/icons/hicolor/scalable/apps/postira.svg' ]"
check "256 px icon" "file '$prefix/share/icons/hicolor/256x256/apps/postira.png' | grep -q '256 x 256'"
check "manual page" "[ -f '$prefix/share/man/man1/postira-run.1' ] && man -l '$prefix/share/man/man1/postira-run.1' >/dev/null 2>&1 || [ -f '$prefix/share/man/man1/postira-run.1' ]"

echo "$(( 9 - fail )) passed, $fail failed"
[ "$fail" -eq 0 ]
