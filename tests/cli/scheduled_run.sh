#!/bin/bash
# The scheduling example's wrapper: runs the example report for the previous
# month (also on the 31st, when "last month" is still this month) and passes
# the program's exit status on to cron or systemd.
set -u
exe="$1"
source_dir="${VANTRELLE_SOURCE_DIR:?}"
dir="$(mktemp -d)"
trap 'rm -rf "$dir"' EXIT
failures=0
check() {  # check DESCRIPTION CONDITION...
  local what="$1"; shift
  if "$@"; then :; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}

# The program as the wrapper finds it, and a clock that reads 31 March.
mkdir "$dir/bin"
ln -s "$exe" "$dir/bin/vantrelle"
cat > "$dir/bin/date" <<'END'
#!/bin/sh
case "$1" in -d) exec /bin/date "$@" ;; *) exec /bin/date -d "2026-03-31 12:00" "$@" ;; esac
END
chmod +x "$dir/bin/date"
export PATH="$dir/bin:$PATH"

cp -r "$source_dir/examples/monthly" "$dir/report"
mkdir "$dir/report/out"
sqlite3 "$dir/report/out/sales.db" < "$dir/report/sales.sql"
wrapper="$source_dir/examples/scheduling/run-monthly-report"
(cd / && "$wrapper" "$dir/report" >/dev/null 2>&1); status=$?
check "a good run exits 0" test $status -eq 0
log="$(ls "$dir"/report/out/monthly_*.log 2>/dev/null | head -1)"
check "the report is for February" grep -q "= '2026-02'" "$log"
check "the report was written" test -s "$dir/report/out/sales_report.docx"

(cd / && "$wrapper" "$dir/report" missing.ini >/dev/null 2>&1); status=$?
check "a missing configuration exits 2" test $status -eq 2
# An early end: the template is gone.
rm "$dir/report/template.docx"
(cd / && "$wrapper" "$dir/report" >/dev/null 2>&1); status=$?
check "a failed run exits 1" test $status -eq 1

[ $failures -eq 0 ] && echo "scheduled run: all checks passed"
exit $failures
