#!/usr/bin/env bash
# qs.exe with its device on a COM port (a pseudo-terminal linked as COMn in
# the Wine prefix's dosdevices), as Task_1 names it: the EEPROM editor
# reached from the telemechanics service menu saves the image to a HEX file,
# loads a changed copy, programs it, reads the device again and saves it
# once more: the second file is the changed copy, byte for byte.
# Wine opens a COM port that another program holds as well (Windows refuses
# a second open); that refusal is not tried here.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
win_init "$1" "$2" "$3"

port=$(claim_com)
WIN_CLAIMS+=("$port")
trap 'e2e_cleanup; release_coms' EXIT
link="$WINEPREFIX/dosdevices/com$port"

mkdir -p "$WORK/QS_ADD"
cp "$(dirname "$0")/../../samples/QS_ADD/reg_7758_1.txt" "$WORK/QS_ADD/"
printf 'Task_1:\t%s\t21\t\n' "$port" >"$WORK/QS_ADD/common.sch"
start_devsim --serial 00A001 --link "$link" --events "$WORK/events"

win_start
wait_for "SN: 00A001" 60
wait_for "<Esc> - Выход."

# From the live TI view through its service menu into the EEPROM screen,
# which reads keys once its page is drawn (keys typed while it reads the
# device are taken as a possible Esc and dropped).
eeprom_screen() {
  wait_row '^1: +[0-9A-F]{4}h' 20 5
  wkeys Space
  wait_for "<v>  - Доступ к eeprom."
  wkeys 't:v'
  wait_for "0x01F0: " 30
}
wkeys F1
eeprom_screen

# The image saved under the default name the serial number gives.
wkeys 't:s'
wait_for "Введите имя файла (по умалчанию - 00a001.hex):"
wkeys Enter
wait_for "Файл ./hex/00a001.hex был записан на диск!!!" 30
saved="$WORK/hex/00a001.hex"
python3 - "$saved" "$WORK/changed.hex" <<'PY' || fail "the saved file is no whole image"
import sys
lines = open(sys.argv[1], "rb").read().split(b"\r\n")
assert lines[-1] == b"", "no CR LF after the last record"
records = [bytes.fromhex(l[1:].decode()) for l in lines[:-1]]
assert len(records) == 257 and records[-1] == bytes.fromhex("00000001FF"), len(records)
image = bytearray()
for i, r in enumerate(records[:-1]):
    assert sum(r) & 0xFF == 0, "checksum of record %d" % i
    assert r[0] == 16 and r[3] == 0 and (r[1] << 8 | r[2]) == 16 * i, "record %d" % i
    image += r[4:-1]
# A copy with two bytes changed, for the editor to load and program.
image[0x10] ^= 0x5A
image[0xFFF] ^= 0xA5
with open(sys.argv[2], "wb") as out:
    for a in range(0, 4096, 16):
        r = bytes([16, a >> 8, a & 0xFF, 0]) + bytes(image[a:a + 16])
        out.write(b":" + (r + bytes([-sum(r) & 0xFF])).hex().upper().encode() + b"\r\n")
    out.write(b":00000001FF\r\n")
PY

wkeys 't:o'
wait_for "Введите имя файла (по умалчанию - 00a001.hex):"
wkeys 't:changed.hex' Enter
wait_for "Файл changed.hex был считан с диска."
wkeys 't:w'
wait_for "Eeprom был запрограммирован!!!" 60
wait_file "$WORK/events" 5 '^eeprom 21 '
# Out of the editor and in again: a new editor reads the device afresh, and
# its image saved is the file that was loaded.
wkeys Esc
eeprom_screen
wkeys 't:s'
wait_for "Введите имя файла (по умалчанию - 00a001.hex):"
wkeys 't:after.hex' Enter
wait_for "Файл after.hex был записан на диск!!!" 30
cmp "$WORK/changed.hex" "$WORK/after.hex" || fail "the device does not hold the loaded file"

wkeys Esc
wait_row '^1: +[0-9A-F]{4}h' 20 5
win_quit_from_view
echo "ok"
