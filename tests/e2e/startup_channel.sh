#!/usr/bin/env bash
# qs builds the bench's device link at start-up: a serial port named by
# Task_1 (QS_ADD/com7 linked to a pseudo-terminal) at 115200 8N1 raw, a TCP
# relay typed at the prompt; a port or a relay it cannot open and a register
# file that is missing or malformed end it with their messages, what to
# check, and a status that is not 0 after a key.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"

# Serial: Task_1 names port 7.
printf 'Task_1:\t7\t21\t\n' >"$WORK/QS_ADD/common.sch"
start_peer serial "$WORK/QS_ADD/com7" "$WORK/line"
wait_file "$WORK/line" 5
e2e_start "$QS"
wait_for "<Esc> - Выход."
keys Escape
status=$(wait_exit)
[ "$status" = "0" ] || fail "serial start-up ended with $status"
wait_file "$WORK/line" 5 '^baud=115200 cs8=1 parity=0 stop2=0 rtscts=0 xonxoff=0 icanon=0 echo=0 opost=0 inlcr=0$'
tmux -L "$SOCK" kill-server

# TCP: the operator types the relay's address at the prompt.
rm -f "$WORK/exit"
printf 'Task_1:\t0\t21\t\n' >"$WORK/QS_ADD/common.sch"
start_peer tcp "$WORK/port" "$WORK/tcp.log"
wait_file "$WORK/port" 5
port=$(cat "$WORK/port")
e2e_start "$QS"
wait_for "IP:PORT"
keys "127.0.0.1:$port" Enter
wait_file "$WORK/tcp.log" 10 connected
wait_for "<Esc> - Выход."
keys Escape
status=$(wait_exit)
[ "$status" = "0" ] || fail "TCP start-up ended with $status"
tmux -L "$SOCK" kill-server

# A port that cannot be opened: the message names the channel and where to
# look, a key ends qs with status 1.
rm -f "$WORK/exit"
printf 'Task_1:\t8\t21\t\n' >"$WORK/QS_ADD/common.sch"
ln -sf "$WORK/no-such-device" "$WORK/QS_ADD/com8"
e2e_start "$QS"
wait_for "Ошибка COM8: невозможно открыть порт."
wait_for "Проверьте порт COM8 (QS_ADD/com8): подключён ли он и не занят ли другой программой."
wait_for "Порт задаёт строка Task_1 файла QS_ADD/common.sch."
wait_for "Нажмите любую клавишу."
keys x
status=$(wait_exit)
[ "$status" = "1" ] || fail "failed start-up ended with $status"
tmux -L "$SOCK" kill-server

# A relay that refuses the connection: the same, naming the relay.
rm -f "$WORK/exit"
printf 'Task_1:\t0\t21\t\n' >"$WORK/QS_ADD/common.sch"
e2e_start "$QS"
wait_for "IP:PORT"
keys "127.0.0.1:1" Enter
wait_for "Проверьте ретранслятор 127.0.0.1:1: включён ли он и доступен ли по сети"
wait_for "Нажмите любую клавишу."
keys x
status=$(wait_exit)
[ "$status" = "1" ] || fail "failed relay start-up ended with $status"
tmux -L "$SOCK" kill-server

# The register file: missing, then malformed on its third line.
printf 'Task_1:\t7\t21\t\n' >"$WORK/QS_ADD/common.sch"
mv "$WORK/QS_ADD/reg_7758_1.txt" "$WORK/reg.good"
for case in missing malformed; do
  rm -f "$WORK/exit"
  if [ "$case" = malformed ]; then
    { head -4 "$WORK/reg.good"; echo "BROKEN LINE"; } >"$WORK/QS_ADD/reg_7758_1.txt"
    want="Ошибка инициализации регистров Dev."
  else
    want="Ошибка(-40000) инициализации Dev."
  fi
  e2e_start "$QS"
  wait_for "$want"
  wait_for "Нажмите любую клавишу."
  keys Enter
  status=$(wait_exit)
  [ "$status" = "1" ] || fail "$case register file: exit $status"
  tmux -L "$SOCK" kill-server
done

# Settings that do not name the device are said as they are: a Task line
# whose fields are separated by blanks, an address that is not
# hexadecimal, and a folder with no settings at all.
for line in 'Task_1: 7 21' 'Task_1:\t7\t2l\t'; do
  rm -f "$WORK/exit"
  printf "## bench\n$line\n" >"$WORK/QS_ADD/common.sch"
  e2e_start "$QS"
  case "$line" in
    *2l*) wait_for "строка 2 файла QS_ADD/common.sch: адрес «2l» не шестнадцатеричный" ;;
    *) wait_for "строка 2 файла QS_ADD/common.sch: поля разделяются табуляцией" ;;
  esac
  wait_for "Нажмите любую клавишу."
  keys x
  status=$(wait_exit)
  [ "$status" = "1" ] || fail "'$line' ended with $status"
  tmux -L "$SOCK" kill-server
done
rm -f "$WORK/exit"
mv "$WORK/QS_ADD" "$WORK/settings"
e2e_start "$QS"
wait_for "нет файла QS_ADD/common.sch в папке $WORK"
wait_for "Нажмите любую клавишу."
keys x
status=$(wait_exit)
[ "$status" = "1" ] || fail "no settings: exit $status"
echo "ok"
