#!/bin/bash
# Installs the build into a temporary prefix and runs the installed program
# there: --help finds the installed manual, the example report runs in batch
# mode from the installed copy, and the menu entry and manual page are in
# place.
set -u
build="${VANTRELLE_BINARY_DIR:?}"
prefix="$(mktemp -d)"
work="$(mktemp -d)"
trap 'rm -rf "$prefix" "$work"' EXIT
failures=0
check() {  # check DESCRIPTION CONDITION...
  local what="$1"; shift
  if "$@"; then :; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

cmake --install "$build" --prefix "$prefix" >/dev/null
check "installs the program" test -x "$prefix/bin/vantrelle"
doc="$prefix/share/doc/vantrelle"
check "installs the manual" test -s "$doc/vantrelle-help.htm"
check "installs the manual page" test -s "$prefix/share/man/man1/vantrelle.1.gz"
check "manual page names the PDF key" bash -c "zcat '$prefix/share/man/man1/vantrelle.1.gz' | grep -q PdfFileName"
if command -v desktop-file-validate >/dev/null; then
  check "menu entry is valid" desktop-file-validate "$prefix/share/applications/vantrelle.desktop"
fi
check "scalable icon" test -s "$prefix/share/icons/hicolor/scalable/apps/vantrelle.svg"
check "48 pixel icon" bash -c "file '$prefix/share/icons/hicolor/48x48/apps/vantrelle.png' | grep -q '48 x 48'"

# The manual is found from the installed program's own folder, with no copy
# beside it.
check "no manual beside the installed program" test ! -e "$prefix/bin/Vantrelle"
help="$("$prefix/bin/vantrelle" --help)"
check "--help shows usage" grep -q -- "-C        batch mode" <<<"$help"
check "--help names the installed manual" grep -qx "Manual: $doc/vantrelle-help.htm" <<<"$help"

# The example report from the installed copy, in a folder of its own.
cp -r "$doc/examples/monthly" "$work/monthly"
cd "$work/monthly"
mkdir -p out
sqlite3 out/sales.db < sales.sql
"$prefix/bin/vantrelle" -C -F report.ini 2004-06 >/dev/null 2>&1; status=$?
check "example report exits 0" test $status -eq 0
check "example report written" test -s out/sales_report.docx
log="$(ls out/monthly_*.log 2>/dev/null | head -1)"
check "example log ends well" bash -c "tail -1 '$log' | grep -q 'Close the log file.'"
check "example log has no errors" bash -c "! grep -q 'Error:' '$log'"
check "parameter reached the scripts" grep -q "'2004-06'" "$log"

[ $failures -eq 0 ] && echo "installed program: all checks passed"
exit $failures
