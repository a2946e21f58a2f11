#!/usr/bin/env bash
# qs.exe as an operator uses it: the channel prompt answered with a relay
# that refuses (what to check, status 1) and then with a TCP relay, current values, a three-day profile written to a listing file whose
# name was corrected with the cursor keys, the telemechanics views by F1, F2,
# F4 and F6 and back by F3, and Esc ending it with status 0. The listing is
# byte for byte the one the Linux program writes for the same device.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
win_init "$1" "$2" "$3"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
clock="2026-03-01 10:00:00"  # the device's clock stands still: the two listings are alike

# The Linux program's listing of the device, over a serial line.
mkdir -p "$WORK/linux/QS_ADD"
cp "$samples/reg_7758_1.txt" "$WORK/linux/QS_ADD/"
printf 'Task_1:\t3\t21\t\n' >"$WORK/linux/QS_ADD/common.sch"
start_devsim --serial 00A001 --clock "$clock" --link "$WORK/linux/QS_ADD/com3"
e2e_start "cd linux && '$QS'"
wait_for "<Esc> - Выход."
wait_for "SN: 00A001"
keys 5
wait_for "Введите глубину чтения"
keys 3 Enter
wait_for "<S> - Запись профиля в файл." 20
wait_for "Day(s): 3"
keys S
wait_for "Введите имя файла:"
keys "listing.txt" Enter
wait_for "Файл записан."
[ -f "$WORK/linux/listing.txt" ] || fail "the Linux program wrote no listing"
e2e_stop

# qs.exe, asking for the channel, against a TCP relay with the same device.
mkdir -p "$WORK/QS_ADD"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t0\t21\t\n' >"$WORK/QS_ADD/common.sch"
rm -f "$WORK/relay.port"
"$DEVSIM" --tcp 0 --ready-file "$WORK/relay.port" --serial 00A001 --clock "$clock" >"$WORK/relay.log" 2>&1 &
PIDS+=($!)
wait_file "$WORK/relay.port" 10

# A relay that refuses: the message says what to check, and after a key
# qs.exe ends with status 1, so that a launcher sees it.
win_start
wait_for "Введите номер COMx порта или IP:PORT адрес:" 60
wkeys "t:127.0.0.1:1" Enter
wait_for "Проверьте ретранслятор 127.0.0.1:1: включён ли он и доступен ли по сети." 30
wait_for "Нажмите любую клавишу."
wkeys Enter
status=$(wait_exit 30)
[ "$status" = "1" ] || fail "a relay that refused: exit status $status"
e2e_stop

win_start
wait_for "Введите номер COMx порта или IP:PORT адрес:" 60
wkeys "t:127.0.0.1:$(cat "$WORK/relay.port")" Enter
wait_for "SN: 00A001" 20
wait_for "<Esc> - Выход."
[ "$(row 1)" = "Мод.ном: 21h" ] || fail "header row 1: '$(row 1)'"

wkeys 't:1'
wait_for "Текущие параметры."
wait_for "Va: 220.00"

wkeys 't:5'
wait_for "Введите глубину чтения"
wkeys 't:3' Enter
wait_for "<S> - Запись профиля в файл." 20
wait_for "Day(s): 3"
wkeys 't:S'
wait_for "Введите имя файла:"
# "lsting.tx" typed, then put right: an i after the l, a t at the end, and
# Del at the end and F5 in between that change nothing.
wkeys 't:lsting.tx' Home Right 't:i' F5 End Del 't:t' Enter
wait_for "Файл записан."
[ -f "$WORK/listing.txt" ] || fail "no listing.txt; the folder holds: $(ls "$WORK")"
cmp "$WORK/linux/listing.txt" "$WORK/listing.txt" || fail "the listing differs from the Linux program's"

wkeys Esc
wait_for "<Esc> - Выход."
# The telemechanics views, each showing its own heading, and F3 back.
wkeys F1
wait_row '^1: +[0-9A-F]{4}h' 20 5
[ "$(row 2)" = "ТИ" ] || fail "F1 view: '$(row 2)'"
wkeys F2
wait_row '^ТС$' 20 2
wkeys F4
wait_row '^Температура$' 20 2
wkeys F6
wait_row '^Тек\.сост:  0   0   0 *$' 20 5
win_quit_from_view
echo "ok"
