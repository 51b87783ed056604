#!/bin/bash
# Interactive start-up without a usable display: a display that does not
# answer (named by DISPLAY or by -display), or DISPLAY set but empty, is said
# on standard error with exit status 2, as with no display at all; the window
# toolkit never aborts. The toolkit's own options reach the toolkit, and a
# SIGTERM closes an idle window.
set -u
exe="$1"
failures=0
check() {  # check DESCRIPTION CONDITION...
  local what="$1"; shift
  if "$@"; then :; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
start() {  # start DISPLAY-VALUE: runs the window with only that display set
  env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY="$1" timeout 60 "$exe" 2>&1 >/dev/null
}

if ! "$exe" --help >/dev/null || [ -z "$(ldd "$exe" | grep -i qt6)" ]; then
  echo "window_start: this build has no window; nothing to check"
  exit 0
fi

# A display number nobody serves (no X socket, no TCP listener); below the
# numbers xvfb-run takes for the other tests (99 and up).
for n in 79 78 77 76; do
  [ -e "/tmp/.X11-unix/X$n" ] && continue
  err="$(start ":$n")"; status=$?
  check "unanswering display exits 2" test $status -eq 2
  check "unanswering display message" test "$err" = "vantrelle: the display \":$n\" (DISPLAY) does not answer or refuses the connection; use -C for batch mode."
  break
done

# The display and window system the toolkit would use: those that -display
# and -platform name, whatever DISPLAY and QT_QPA_PLATFORM say.
unserved=""
for n in 79 78 77 76; do [ -e "/tmp/.X11-unix/X$n" ] || { unserved=":$n"; break; }; done
err="$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM DISPLAY=:0 timeout 60 "$exe" -F x.ini --display "$unserved" 2>&1 >/dev/null)"; status=$?
check "-display naming an unanswering display exits 2" test $status -eq 2
check "-display message" test "$err" = "vantrelle: the display \"$unserved\" (-display) does not answer or refuses the connection; use -C for batch mode."
err="$(env -u WAYLAND_DISPLAY -u DISPLAY QT_QPA_PLATFORM=offscreen timeout 60 "$exe" -platform xcb 2>&1 >/dev/null)"; status=$?
check "-platform xcb without a display exits 2" test $status -eq 2
check "-platform xcb message" test "$err" = "vantrelle: no display to show the window on; use -C for batch mode."

err="$(env -u WAYLAND_DISPLAY -u DISPLAY timeout 60 "$exe" -platform nosuch 2>&1 >/dev/null)"; status=$?
check "-platform without a plugin exits 2 (was $status)" test $status -eq 2
check "-platform without a plugin message" \
  grep -q '^vantrelle: the window system "nosuch" (-platform) is not available here (there are .*offscreen.*); use -C for batch mode.$' <<<"$err"

# -F in the window makes the configuration's folder the current folder, as
# File > Open does (a file manager starts programs in the home folder).
home="$(mktemp -d)"
mkdir -p "$home/reports/monthly"
touch "$home/reports/monthly/report.ini"
(cd "$home" && exec env -u WAYLAND_DISPLAY "$exe" -platform offscreen -F reports/monthly/report.ini \
  >/dev/null 2>&1) &
pid=$!
for _ in $(seq 100); do
  [ "$(readlink "/proc/$pid/cwd")" = "$home/reports/monthly" ] && break; sleep 0.1
done
check "-F in the window opens where the configuration lies ($(readlink "/proc/$pid/cwd"))" \
  test "$(readlink "/proc/$pid/cwd")" = "$home/reports/monthly"
kill -TERM $pid; wait $pid
rm -rf "$home"

# -platform offscreen over an unanswering DISPLAY: the window starts, the
# toolkit takes -style (and says it has no such style), the report's value
# 2004-06 is no option, and SIGTERM closes the idle window with status 0.
log="$(mktemp)"
env -u WAYLAND_DISPLAY QT_QPA_PLATFORM=xcb DISPLAY="$unserved" "$exe" -platform offscreen \
  -style NoSuchStyle -F x.ini 2004-06 >/dev/null 2>"$log" &
pid=$!
for _ in $(seq 100); do grep -q "NoSuchStyle" "$log" && break; sleep 0.1; done
sleep 0.5
kill -TERM $pid
for _ in $(seq 200); do kill -0 $pid 2>/dev/null || break; sleep 0.1; done
kill -KILL $pid 2>/dev/null
wait $pid; status=$?
check "the toolkit took -style" grep -q "invalid style override 'NoSuchStyle'" "$log"
check "SIGTERM closes the idle window, exit 0 (was $status)" test $status -eq 0
rm -f "$log"

err="$(start "")"; status=$?
check "empty DISPLAY exits 2" test $status -eq 2
check "empty DISPLAY message" test "$err" = "vantrelle: no display to show the window on; use -C for batch mode."

err="$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u DISPLAY timeout 60 "$exe" 2>&1 >/dev/null)"; status=$?
check "no DISPLAY exits 2" test $status -eq 2

[ $failures -eq 0 ] && echo "window start-up: all checks passed"
exit $failures
