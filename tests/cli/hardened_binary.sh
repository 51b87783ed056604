#!/bin/bash
# The built program carries the hardening Debian asks of its packages:
# position-independent, a read-only relocation table bound at start, stack
# protection, and checked string and memory calls in an optimized build.
set -u
exe="$1"
fail() { echo "FAIL: $*"; exit 1; }
command -v readelf >/dev/null || fail "readelf (binutils) is not installed"

readelf -h "$exe" | grep -q 'Type:[[:space:]]*DYN' || fail "not a position-independent executable"
readelf -l "$exe" | grep -q 'GNU_RELRO' || fail "no read-only relocation segment (relro)"
readelf -d "$exe" | grep -Eq 'BIND_NOW|FLAGS_1.*NOW' || fail "symbols are not bound at start (-z now)"
symbols="$(readelf --dyn-syms -W "$exe")"
grep -q '__stack_chk_fail' <<<"$symbols" || fail "no stack protection"
# A sanitized build is a debug build, where nothing is fortified.
if ! grep -q '__asan_init' <<<"$symbols"; then
  grep -Eq '__[a-z]+_chk@' <<<"$symbols" || fail "no fortified calls (_FORTIFY_SOURCE)"
fi
echo "ok"
