#!/usr/bin/env bash
# Runs the native suite with ctest and the Windows build of the unit, screen
# and platform tests under Wine; prints one closing line for both.
# Usage: run-tests.sh NATIVE_BUILD_DIR WINDOWS_BUILD_DIR   (either may be "")
set -uo pipefail
native=${1:-}
win=${2:-}
passed=0
failed=0
status=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

if [ -n "$native" ]; then
  echo "== native tests (ctest) =="
  # A failing test gets one more run, and a test that needed it is named at
  # the end: passing the second time hides nothing.
  ctest --test-dir "$native" --output-on-failure -j2 --repeat until-pass:2 2>&1 | tee "$log"
  [ "${PIPESTATUS[0]}" -eq 0 ] || status=1
  retried=$(grep -E 'Test +#[0-9]+: .*\*\*\*(Failed|Timeout|Exception)' "$log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+) .*/\1/' | sort -u)
  line=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$line" ]; then
    f=$(echo "$line" | sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/')
    t=$(echo "$line" | sed -E 's/.* out of ([0-9]+).*/\1/')
    passed=$((passed + t - f))
    failed=$((failed + f))
  else
    status=1
  fi
fi

# The unit, screen and integration tests once more in the operators' zone
# and in one with summer time: a mix-up of local time and UTC, or a day of
# 23 or 25 hours, cannot hide behind this machine's UTC.
if [ -n "$native" ] && [ -x "$native/tests/qs_tests" ]; then
  for zone in Europe/Moscow Europe/Berlin; do
    echo "== unit, screen and integration tests in TZ=$zone =="
    if TZ=$zone "$native/tests/qs_tests" --gtest_brief=1 >"$log" 2>&1; then
      n=$(sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\.$/\1/p' "$log" | tail -1)
      echo "passed: ${n:-0}"
      passed=$((passed + ${n:-0}))
    else
      cat "$log"
      bad=$(grep -cE '^\[  FAILED  \] .*\([0-9]+ ms\)$' "$log")
      failed=$((failed + (bad > 0 ? bad : 1)))
      status=1
    fi
  done
fi

if [ -n "$win" ]; then
  echo "== Windows tests (Wine) =="
  export WINEPREFIX="$(cd "$win" && pwd)/wineprefix"
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  wine=/usr/lib/wine/wine64
  [ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
  if [ ! -d "$WINEPREFIX" ]; then
    echo "(first Wine start: creating its prefix, this takes a while)"
  fi
  # The far end of a serial line for the Win32 serial channel: a pseudo-
  # terminal linked as COM9 of the Wine prefix (needs the native build).
  # One Wine server for the whole section, started before any COM link is
  # made: a server that starts later puts its own COM links in their place.
  "$(dirname "$wine")/wineserver" -p 2>/dev/null || true
  "$wine" cmd /c exit >/dev/null 2>&1 || true   # makes the prefix on a first run
  peer_pid=""
  peer="${native:-build}/tests/qs-peer"
  if [ -x "$peer" ]; then
    settings=$(mktemp)
    "$peer" serial "$WINEPREFIX/dosdevices/com9" "$settings" >/dev/null &
    peer_pid=$!
    export QS_WINE_COM=9 QS_WINE_COM_SETTINGS="Z:${settings//\//\\}"
  fi
  "$wine" "$win/tests/qs_tests.exe" 2>&1 | tr -d '\r' | tee "$log"
  rc=${PIPESTATUS[0]}
  if [ -n "$peer_pid" ]; then
    kill "$peer_pid" 2>/dev/null || true
    wait "$peer_pid" 2>/dev/null || true
    rm -f "$settings" "$WINEPREFIX/dosdevices/com9"
  fi
  [ "$rc" -eq 0 ] || status=1
  ok=$(grep -c '^\[       OK \]' "$log")
  bad=$(grep -cE '^\[  FAILED  \] .*\([0-9]+ ms\)$' "$log")
  if [ "$ok" -eq 0 ] && [ "$bad" -eq 0 ]; then
    echo "Wine run produced no test results (exit $rc)"
    status=1
  fi
  passed=$((passed + ok))
  failed=$((failed + bad))

  # qs.exe as operators use it: journeys in a tmux pane, keys typed as
  # console key events.
  echo "== Windows journeys (qs.exe in Wine, in tmux) =="
  export WINE="$wine"
  journeys=("$(dirname "$0")"/../tests/e2e-win/*.sh)
  if [ ! -x "${native:-build}/qs-devsim" ] || [ ! -x "$win/tests/qs-winkeys.exe" ]; then
    echo "(not run: they need the native build's simulators and qs-winkeys.exe)"
    journeys=()
  fi
  for journey in "${journeys[@]}"; do
    name=$(basename "$journey" .sh)
    [ "$name" = "lib" ] && continue
    if timeout 400 bash "$journey" "$win/qs.exe" "$win/tests/qs-winkeys.exe" "${native:-build}" >"$log" 2>&1; then
      echo "win.$name: passed"
      passed=$((passed + 1))
    else
      echo "win.$name: FAILED"
      sed 's/^/    /' "$log"
      failed=$((failed + 1))
      status=1
    fi
  done
  "$(dirname "$wine")/wineserver" -k 2>/dev/null || true
fi

echo
if [ -n "${retried:-}" ]; then
  echo "tests that failed once (a fault to find, even when the second run passed):"
  echo "$retried" | sed 's/^/  /'
fi
echo "tests: $passed passed, $failed failed"
exit $status
