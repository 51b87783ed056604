#!/bin/bash
# Interactive start-up without a usable display: a display that does not
# answer, or DISPLAY set but empty, is said on standard error with exit
# status 2, as with no display at all; the window toolkit never aborts.
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

# A display number nobody serves (no X socket, no TCP listener).
for n in 99 98 97 96; do
  [ -e "/tmp/.X11-unix/X$n" ] && continue
  err="$(start ":$n")"; status=$?
  check "unanswering display exits 2" test $status -eq 2
  check "unanswering display message" test "$err" = "vantrelle: the display \":$n\" (DISPLAY) does not answer or refuses the connection; use -C for batch mode."
  break
done

err="$(start "")"; status=$?
check "empty DISPLAY exits 2" test $status -eq 2
check "empty DISPLAY message" test "$err" = "vantrelle: no display to show the window on; use -C for batch mode."

err="$(env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u DISPLAY timeout 60 "$exe" 2>&1 >/dev/null)"; status=$?
check "no DISPLAY exits 2" test $status -eq 2

[ $failures -eq 0 ] && echo "window start-up: all checks passed"
exit $failures
