#!/bin/bash
# The pictures scripts/screenshots makes carry the names the README shows
# from docs/, so that new ones can be copied over the old: the example report
# is run from the window (offscreen) and every picture written must be one of
# docs/, and every window picture of docs/ must be written.
set -u
build="${VANTRELLE_BINARY_DIR:?}"
source_dir="${VANTRELLE_SOURCE_DIR:?}"
shooter="$build/tests/ui_screenshots"
if [ ! -x "$shooter" ]; then
  echo "skipped: this build has no window (no $shooter)"
  exit 0
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
cp -r "$source_dir/examples/monthly/." "$work/"
mkdir -p "$work/out" "$work/pictures"
(cd "$work" && sqlite3 out/sales.db < sales.sql)
(cd "$work" && QT_QPA_PLATFORM=offscreen timeout 120 "$shooter" report.ini "$work/pictures") \
  >"$work/output" 2>&1 || { cat "$work/output"; echo "FAILED: the screenshots were not made"; exit 1; }
written="$(cd "$work/pictures" && ls *.png | sort | tr '\n' ' ')"
expected="about-box.png main-window.png parameter-dialog.png "
if [ "$written" != "$expected" ]; then
  echo "FAILED: pictures written: $written; expected: $expected"
  exit 1
fi
for picture in $expected; do
  if [ ! -f "$source_dir/docs/$picture" ]; then
    echo "FAILED: docs/ has no $picture"
    exit 1
  fi
done
echo "screenshots: the names docs/ uses"
