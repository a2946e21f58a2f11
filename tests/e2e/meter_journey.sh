#!/usr/bin/env bash
# An operator's round of the meter menu against qs-devsim on a pseudo-
# terminal: the header names the device, current values, a line scan and
# Enter on a found device, and a three-day profile written to a listing file.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t3\t21\t\n' >"$WORK/QS_ADD/common.sch"
start_devsim --address 21,07 --serial 00A001 --link "$WORK/QS_ADD/com3"

e2e_start "$QS"
wait_for "<Esc> - Выход."
wait_for "SN: 00A001"
[ "$(row 1)" = "Мод.ном: 21h" ] || fail "header row 1: '$(row 1)'"

# Current values.
keys 1
wait_for "Текущие параметры."
wait_for "Va: 220.00"
screen | grep -qE 'P\+: [0-9]+\.00 ' || fail "no P+ value"

# Line scan, then Enter on the device found at 07.
keys T
wait_for "   07   S/N: A002 + LMX: ver: 1.0.2" 60
keys Down Down Down Down Down Down Down Enter
wait_for "SN: 00A002"
wait_for "<Esc> - Выход." 20  # the menu is back once the identity is read again
[ "$(row 1)" = "Мод.ном: 07h" ] || fail "after the line test: '$(row 1)'"

# A three-day profile of the device at 07, written to a listing file.
keys 5
wait_for "Введите глубину чтения"
keys 3 Enter
wait_for "<S> - Запись профиля в файл." 20
wait_for "Day(s): 3"
keys S
wait_for "Введите имя файла:"
keys "listing.txt" Enter
wait_for "Файл записан."
listing="$WORK/listing.txt"
[ -f "$listing" ] || fail "no listing file"
text=$(iconv -f cp1251 -t utf-8 "$listing" | tr -d '\r')
echo "$text" | grep -q '^Модемный номер: 7$' || fail "listing header: $(echo "$text" | head -3)"
echo "$text" | grep -q '^S/N: 00A002$' || fail "listing serial"
[ "$(echo "$text" | grep -c '^Data: ')" = "3" ] || fail "listing days"
grep -q $'\r$' "$listing" || fail "listing without CR LF"

keys Escape
wait_for "<Esc> - Выход."
keys Escape
status=$(wait_exit)
[ "$status" = "0" ] || fail "exit status $status"
echo "ok"
