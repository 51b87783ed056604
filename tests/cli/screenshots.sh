#!/bin/bash
# The screenshot script under Xvfb with a window manager: it writes, at scale
# 1 and 2, exactly the pictures that docs/ holds and the README shows, each
# @2x picture twice the size of its scale-1 twin, and the main window fits
# the 1280 x 800 screen it was drawn on.
set -u
root="${VANTRELLE_SOURCE_DIR:?}"
build="${VANTRELLE_BINARY_DIR:?}"
failures=0
check() {  # check DESCRIPTION CONDITION...
  local what="$1"; shift
  if "$@"; then :; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
if [ ! -x "$build/tests/ui_screenshots" ]; then
  echo "screenshots: this build has no window; nothing to check"
  exit 0
fi
for tool in xvfb-run openbox sqlite3 file; do
  if ! command -v "$tool" >/dev/null; then
    echo "screenshots: $tool is not installed (scripts/setup installs it); nothing to check"
    exit 0
  fi
done
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

VANTRELLE_SKIP_BUILD=1 "$root/scripts/screenshots" "$build" "$out/pictures" >"$out/log" 2>&1
status=$?
check "scripts/screenshots exits 0" test $status -eq 0
[ $status -eq 0 ] || cat "$out/log"

size() { file -b "$1" | sed -n 's/^PNG image data, \([0-9]*\) x \([0-9]*\),.*/\1 \2/p'; }
written="$(cd "$out/pictures" && ls *.png 2>/dev/null | sort)"
check "pictures written" test -n "$written"
for picture in $written; do
  check "docs/ holds $picture" test -f "$root/docs/$picture"
done
for shown in $(grep -o 'docs/[a-z0-9@-]*\.png' "$root/README.md" | sed 's|docs/||'); do
  [ "$shown" = "example-report.png" ] && continue  # drawn by LibreOffice, not here
  case "$shown" in console-*) continue ;; esac      # the console's, by scripts/console-screenshots
  check "the script writes $shown" test -f "$out/pictures/$shown"
  twin="${shown%.png}@2x.png"
  check "the script writes $twin" test -f "$out/pictures/$twin"
  read -r w h <<<"$(size "$out/pictures/$shown")"
  read -r w2 h2 <<<"$(size "$out/pictures/$twin")"
  check "$twin is twice $shown (${w}x${h}, ${w2}x${h2})" \
    test "$((w2 - 2 * w))" -ge -2 -a "$((w2 - 2 * w))" -le 2 -a "$((h2 - 2 * h))" -ge -2 -a "$((h2 - 2 * h))" -le 2
done
read -r w h <<<"$(size "$out/pictures/main-window.png")"
check "the main window fits 1280 x 800 (${w}x${h})" test "${w:-9999}" -le 1280 -a "${h:-9999}" -le 800

[ $failures -eq 0 ] && echo "screenshots: all checks passed"
exit $failures
