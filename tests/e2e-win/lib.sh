# Helpers for the Windows journeys: qs.exe under Wine in a 100 x 38 tmux
# pane, as an operator sees it in a console window. Keys go through
# qs-winkeys, which writes them into the console's input as key events:
# Wine's terminal in tmux passes characters and cursor keys but not Esc or
# F-keys. The screen is read from the pane as in the native journeys.
#
# Arguments of every journey: QS_EXE QS_WINKEYS_EXE NATIVE_BUILD_DIR; the
# environment names the Wine program ($WINE) and its prefix ($WINEPREFIX).
. "$(dirname "$0")/../e2e/lib.sh"

win_init() {
  QS_EXE=$(readlink -f "$1")
  WINKEYS=$(readlink -f "$2")
  NATIVE=$(readlink -f "$3")
  e2e_init "$NATIVE/qs" "$NATIVE/tests/qs-peer" "$NATIVE/qs-devsim"
  : "${WINE:?WINE names the wine program}" "${WINEPREFIX:?}"
  # Wine's mount manager puts its own COM links in dosdevices when its
  # server starts: the server is started first and kept a minute past the
  # last program, so a link made after this stays as made.
  "$(dirname "$WINE")/wineserver" -p60 2>/dev/null || true
  WINEDEBUG=-all "$WINE" cmd /c exit >/dev/null 2>&1 || true
}

# A COM number of this run's own among 1..8 (two runs may share the
# prefix), printed: claimed by making a folder, which only one run can do,
# and given back (its dosdevices link removed) when the journey ends.
WIN_CLAIMS=()
claim_com() {
  local claims="$WINEPREFIX/qs-com-claims" n
  mkdir -p "$claims"
  for n in 1 2 3 4 5 6 7 8; do
    if [ -d "$claims/$n" ] && ! kill -0 "$(cat "$claims/$n/pid" 2>/dev/null || echo 0)" 2>/dev/null; then
      rm -rf "$claims/$n"  # left by a run that was killed
    fi
    if mkdir "$claims/$n" 2>/dev/null; then
      echo $$ >"$claims/$n/pid"
      rm -f "$WINEPREFIX/dosdevices/com$n"
      echo "$n"
      return 0
    fi
  done
  fail "no free COM number in $WINEPREFIX/dosdevices"
}

# Gives back the COM numbers this run claimed.
release_coms() {
  local claims="$WINEPREFIX/qs-com-claims" n
  for n in "${WIN_CLAIMS[@]}"; do
    rm -f "$WINEPREFIX/dosdevices/com$n"
    rm -rf "$claims/$n"
  done
}

# A path as Windows programs under Wine see it (the Z: drive is /).
winpath() { echo "Z:${1//\//\\}"; }

# Starts qs.exe in the pane with the given arguments, its keys taken from
# $WORK/keys.
win_start() {
  : >"$WORK/keys"
  e2e_start "WINEDEBUG=-all '$WINE' '$(winpath "$WINKEYS")' '$(winpath "$WORK/keys")' '$(winpath "$QS_EXE")' $*"
}

# Keys for qs.exe: key names (Esc, Enter, Left, F1, ...) or t:TEXT.
wkeys() {
  local k
  for k in "$@"; do printf '%s\n' "$k" >>"$WORK/keys"; done
}

# Ends the pane's program and its tmux server, for a second program in the
# same folder.
e2e_stop() {
  tmux -L "$SOCK" kill-server 2>/dev/null || true
  rm -f "$WORK/exit"
}

# From a telemechanics view F3 goes back to the meter menu and Esc ends
# qs.exe, with status 0.
win_quit_from_view() {
  local status
  wkeys F3
  wait_for "<Esc> - Выход." 20
  wkeys Esc
  status=$(wait_exit 30)
  [ "$status" = "0" ] || fail "exit status $status"
}
