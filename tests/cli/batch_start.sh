#!/bin/bash
# Batch start-up through the real executable: --version, --help, a missing
# configuration, a log that cannot be created, and the log's opening lines.
set -u
exe="$1"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
failures=0
check() {  # check DESCRIPTION CONDITION...
  local what="$1"; shift
  if "$@"; then :; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

out="$("$exe" --version)"; status=$?
check "--version prints the version" test "$out" = "Vantrelle 1.4.0"
check "--version exits 0" test $status -eq 0
"$exe" --help | grep -q -- "-C" ; check "--help shows usage" test $? -eq 0

cd "$dir"
err="$("$exe" -C -F missing.ini 2>&1 >/dev/null)"; status=$?
check "missing configuration exits 2" test $status -eq 2
check "missing configuration message" test "$err" = "$(printf 'Error!\nError Info: Configuration file "missing.ini" does not exist.')"
check "no log for a missing configuration" test -z "$(ls "$dir")"

mkdir folder.ini
"$exe" -C -F folder.ini 2>/dev/null; status=$?
check "a folder is no configuration file" test $status -eq 2

printf '[FILE]\r\nLogFileName=%s/nofolder/run.log\r\n' "$dir" > badlog.ini
err="$("$exe" -c -f badlog.ini 2>&1)"; status=$?
check "log in a missing folder exits 2" test $status -eq 2
check "log error names the file" grep -q "nofolder/run.log" <<<"$err"

printf '[FILE]\nLogFileName=%s/run_&Y&M&D.log\nReportTemplateFileName=%s/missing.docx\nReportFileName=r.docx\n[ODBC]\nDSN=sqlite::memory:\n' "$dir" "$dir" > macro.ini
"$exe" -C -F macro.ini; status=$?
log="$dir/run_$(date +%Y%m%d).log"
check "date macro names the log" test -f "$log"
check "an early end exits 1" test $status -eq 1
if [ -f "$log" ]; then
  mapfile -t lines < <(cut -c24- "$log" | tr -d '\r')
  check "first line" test "${lines[0]}" = "Vantrelle 1.4.0"
  check "second line" test "${lines[1]}" = "Copyright (C) 2026 The Vantrelle developers"
  check "third line" test "${lines[2]}" = "Open log file successfully."
  check "template error" test "${lines[3]}" = "Error: The information in the configuration file is incorrect."
  check "stamp format" grep -Eq '^\[[0-9]{8} [0-9]{2}:[0-9]{2}:[0-9]{2}\]    Vantrelle 1.4.0'$'\r''$' "$log"
fi

[ $failures -eq 0 ] && echo "batch start-up: all checks passed"
exit $failures
