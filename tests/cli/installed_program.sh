#!/bin/bash
# Installs the build into a temporary prefix and runs the installed program
# there: --help finds the installed manual, the example report checks clean
# and runs in batch mode from the installed copy as an ordinary user, the
# scheduling wrapper runs as installed, and the menu entry and manual page
# are in place.
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

check "--help names the last configuration fallback" grep -q "/etc/vantrelle.ini" <<<"$help"
check "--help shows the check" grep -q -- "--check \[--connect\]" <<<"$help"
check "manual page names the check" bash -c "zcat '$prefix/share/man/man1/vantrelle.1.gz' | grep -q -- '-check'"
wrapper="$doc/examples/scheduling/run-monthly-report"
check "scheduling wrapper is executable" test -x "$wrapper"

# The example report from the installed copy, in a folder of its own, run as
# an ordinary user as a schedule would run it (when the test runs as root).
as_user=()
if [ "$(id -u)" -eq 0 ] && id nobody >/dev/null 2>&1; then
  as_user=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups)
fi
chmod 755 "$prefix" "$work"
cp -r "$doc/examples/monthly" "$work/monthly"
mkdir -p "$work/monthly/out"
[ ${#as_user[@]} -gt 0 ] && chown -R nobody: "$work/monthly"
run() { (cd "$work/monthly" && env PATH="$prefix/bin:$PATH" "${as_user[@]}" "$@"); }
run bash -c "sqlite3 out/sales.db < sales.sql"
check "example database built" test -s "$work/monthly/out/sales.db"
output="$(run vantrelle --check -F report.ini 2004-06)"; status=$?
check "example checks clean" test "$status:$output" = "0:report.ini: 0 errors, 0 warnings."
output="$(run vantrelle --describe template.docx)"
check "example template described" grep -q "^Table 2, in the body: " <<<"$output"
run vantrelle -C -F report.ini 2004-06 >/dev/null 2>&1; status=$?
check "example report exits 0" test $status -eq 0
check "example report written" test -s "$work/monthly/out/sales_report.docx"
log="$(ls "$work"/monthly/out/monthly_*.log 2>/dev/null | head -1)"
check "example log ends well" bash -c "tail -1 '$log' | grep -q 'Close the log file.'"
check "example log has no errors" bash -c "! grep -q 'Error:' '$log'"
check "parameter reached the scripts" grep -q "'2004-06'" "$log"
# The schedule's wrapper runs the previous month's report as installed.
run "$wrapper" "$work/monthly" >/dev/null 2>&1; status=$?
check "scheduling wrapper runs the report (status $status)" test $status -eq 0

# The installed console serves the installed pages, found from its own folder.
if [ -x "$prefix/bin/vantrelle-server" ]; then
  port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
  printf '[Server]\nListen=127.0.0.1:%s\nState=%s/state\n' "$port" "$work" >"$work/server.ini"
  "$prefix/bin/vantrelle-server" --config "$work/server.ini" 2>"$work/server.err" &
  server=$!
  page="$(python3 - "$port" <<'PY'
import http.client, sys, time
for _ in range(300):
    try:
        connection = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]), timeout=5)
        connection.request("GET", "/")
        response = connection.getresponse()
        print(response.status, response.getheader("Content-Type"), response.read().decode()[:200])
        break
    except OSError:
        time.sleep(0.02)
PY
)"
  kill "$server"; wait "$server"
  check "installed console serves its pages ($page)" grep -q '^200 text/html.*<!doctype html>' <<<"$page"
  check "installed console finds its pages without a warning" test ! -s "$work/server.err" -o \
    -z "$(grep -i warning "$work/server.err")"
fi

[ $failures -eq 0 ] && echo "installed program: all checks passed"
exit $failures
