# Helpers for end-to-end journeys: the real qs in a 100 x 38 tmux pane.
# Each journey runs on a tmux server of its own, in a scratch folder.

e2e_init() {
  QS=$(readlink -f "$1")
  PEER=$(readlink -f "${2:-}" 2>/dev/null || true)
  DEVSIM=$(readlink -f "${3:-}" 2>/dev/null || true)
  PIDS=()
  WORK=$(mktemp -d "${TMPDIR:-/tmp}/qs-e2e.XXXXXX")
  SOCK="qs-e2e-$$"
  SOCKS=()
  export LANG=C.UTF-8 LC_ALL=C.UTF-8
  trap e2e_cleanup EXIT
}

e2e_cleanup() {
  for p in "${PIDS[@]}"; do kill "$p" 2>/dev/null || true; done
  for s in "${SOCKS[@]}"; do tmux -L "$s" kill-server 2>/dev/null || true; done
  rm -rf "$WORK"
}

fail() {
  echo "FAIL: $*" >&2
  echo "---- screen ----" >&2
  screen >&2 || true
  exit 1
}

# Starts a command in the pane; its exit status and the terminal modes after
# it are written to $WORK/exit and $WORK/stty.
e2e_start() {
  local cmd="$1"
  cat >"$WORK/run.sh" <<SH
cd "$WORK"
$cmd
echo \$? > "$WORK/exit.tmp"
stty -a > "$WORK/stty" 2>&1
mv "$WORK/exit.tmp" "$WORK/exit"
sleep 600
SH
  # A tmux server of its own for each start: a server just killed may still
  # be going away, and a new session must not meet it.
  SOCK="qs-e2e-$$-${#SOCKS[@]}"
  SOCKS+=("$SOCK")
  tmux -L "$SOCK" -f /dev/null new-session -d -s qs -x 100 -y 38 "bash $WORK/run.sh"
  tmux -L "$SOCK" set-option -g escape-time 0 >/dev/null
}

# Starts qs-peer in the background (killed at the end).
start_peer() {
  "$PEER" "$@" &
  PIDS+=($!)
}

# Starts qs-devsim in the background (killed at the end) and waits until it serves.
start_devsim() {
  rm -f "$WORK/devsim.ready"
  "$DEVSIM" --ready-file "$WORK/devsim.ready" "$@" >"$WORK/devsim.log" 2>&1 &
  PIDS+=($!)
  wait_file "$WORK/devsim.ready" 10
}

# Waits up to $2 seconds for a file to exist and hold text matching $3 (grep -E).
wait_file() {
  local file="$1" limit=$(( ${2:-10} * 10 )) pattern="${3:-.}" i=0
  while [ $i -lt $limit ]; do
    if [ -f "$file" ] && grep -qE -- "$pattern" "$file"; then return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  fail "$file never held '$pattern'"
}

screen() { tmux -L "$SOCK" capture-pane -p -t qs; }
# Window $1 of the session (a number or a name), and a wait of up to $3
# seconds (default 20) for text in it.
win() { tmux -L "$SOCK" capture-pane -p -t "qs:$1"; }
wait_win() {
  local w="$1" text="$2" limit=$(( ${3:-20} * 10 )) i=0
  while [ $i -lt $limit ]; do
    if win "$w" 2>/dev/null | grep -qF -- "$text"; then return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  echo "---- window $w ----" >&2
  win "$w" >&2 || true
  fail "'$text' did not appear in window $w"
}
row() { screen | sed -n "$(($1 + 1))p"; }
keys() { tmux -L "$SOCK" send-keys -t qs "$@"; }

# Waits up to $2 seconds (default 10) for text to appear on the screen.
wait_for() {
  local text="$1" limit=$(( ${2:-10} * 10 )) i=0
  while [ $i -lt $limit ]; do
    if screen | grep -qF -- "$text"; then return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  fail "'$text' did not appear"
}

# Waits up to $2 seconds for row $3 to match the extended regular expression $1.
wait_row() {
  local re="$1" limit=$(( ${2:-10} * 10 )) r="$3" i=0
  while [ $i -lt $limit ]; do
    if row "$r" | grep -qE -- "$re"; then return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  fail "row $r never matched '$re'"
}

# Waits for the program to end; prints its exit status.
wait_exit() {
  local limit=$(( ${1:-10} * 10 )) i=0
  while [ $i -lt $limit ]; do
    if [ -f "$WORK/exit" ]; then cat "$WORK/exit"; return 0; fi
    sleep 0.1
    i=$((i + 1))
  done
  fail "qs did not end"
}

# What `$1 report` (the Linux qs) says of run $2, ended by $3: it was
# interrupted with the one point it showed, and why ($4) on the line below.
check_interrupted() {
  local listing line
  listing=$(cd "$WORK" && "$1" report)
  line=$(echo "$listing" | awk -v n="$2" '$1 == n')
  echo "$line" | grep -qF " прервана " || fail "run $2 after $3 should be interrupted: $line"
  [ "$(echo "$line" | awk '{print $NF}')" = "1" ] || fail "run $2 after $3 should keep its point: $line"
  echo "$listing" | awk -v n="$2" 'shown && /^     Окончание:/ {print; exit} {shown = ($1 == n)}' |
    grep -qF "Окончание: $4" || fail "run $2 after $3 should say '$4': $listing"
}
