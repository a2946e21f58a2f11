#!/usr/bin/env bash
# What a laboratory's protocol carries, as a bench records it. With a Lab
# line the first key 8 asks for the operator and the day's conditions; the
# run keeps them with the laboratory, the reference and the program's
# version. The settings changed after the run leave its protocol as it was.
# A reference past its due date refuses the next run; a second run on the
# same day asks for nothing.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
ZUSIM="$(dirname "$DEVSIM")/qs-zusim"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
settings() {  # settings LABNAME DUE
  printf 'Task_1:\t3\t21\t\nPort_ZU:\t5\t1\t0\t\nVer:\t1\t2\t3\tE2E\tprog.txt\t\n' >"$WORK/QS_ADD/common.sch"
  printf 'Lab:\t%s\tг. Энск\tRA.RU.1\tМП 1\t15-25\t30-80\t84-106\t\nRef:\tЭУ7125М\t77\t%s\t\n' "$1" "$2" \
    >>"$WORK/QS_ADD/common.sch"
}
settings "Лаборатория А" 2099-12-31
printf 'A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0\n' >"$WORK/QS_ADD/prog.txt"
start_devsim --link "$WORK/QS_ADD/com3"
"$ZUSIM" --link "$WORK/QS_ADD/com5" --ready-file "$WORK/zusim.ready" --report-ms 50 >/dev/null 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10

e2e_start "$QS"
wait_for "<8>  - Поверка."
keys 8
wait_for " <1>  Ver E2E"
keys 1
wait_for "Поверитель:"
keys "Петров П." Enter
# Each value is taken as written, with a comma or a point, or refused on
# the spot and asked again.
wait_for "Температура, °C:"
keys abc Enter
wait_for "Температура «abc»: нужно число от -10 до 50 °C"
keys 215 Enter
wait_for "Температура «215»: нужно число от -10 до 50 °C"
keys 21,5 Enter
wait_for "Влажность, %:"
keys 5O Enter
wait_for "Влажность «5O»: нужно число от 0 до 100 %"
keys 85 Enter
wait_for "Давление, кПа:"
keys 998 Enter
wait_for "Давление «998»: нужно число от 60 до 110 кПа"
keys 99.1 Enter
# 85 % is a humidity, but not one the method allows: no run starts, and the
# form comes again with what was taken.
wait_for "Влажность 85 % вне границ методики 30–80 %: поверка невозможна."
wait_for "Температура, °C (Enter - 21,5):"
keys Enter
wait_for "Влажность, % (Enter - 85):"
keys 55.5 Enter
wait_for "Давление, кПа (Enter - 99,1):"
keys Enter
wait_for "Условия: 21,5 °C, 55,5 %, 99,1 кПа"
wait_for "Поверка завершена. Итог: годен." 60
keys Enter
wait_for "<8>  - Поверка."
# A second run the same day asks for nothing but the programme.
keys 8
wait_for " <1>  Ver E2E"
keys 1
wait_for "Поверка завершена. Итог: годен." 60
keys Enter
wait_for "<8>  - Поверка."
# The settings change; the protocol of run 1 stays as the run was made.
settings "Лаборатория Б" 2000-01-01
(cd "$WORK" && "$QS" report --html protocol.html >/dev/null) || fail "no protocol"
sed -e 's/<[^>]*>//g' "$WORK/protocol.html" >"$WORK/protocol.txt"  # what the page shows
version=$("$QS" --version | sed 's/^qs //')
grep -qxF "$(date +%F) 21.5 55.5 99.1" "$WORK/conditions.txt" || fail "conditions.txt: $(cat "$WORK/conditions.txt")"
for text in "Лаборатория А, г. Энск" "ЭУ7125М № 77, поверен до 2099-12-31" "температура 21,5 °C (15–25)" \
  "влажность 55,5 % (30–80)" "давление 99,1 кПа (84–106)" "Петров П." "qs $version"; do
  [ "$(grep -cF -- "$text" "$WORK/protocol.txt")" = 2 ] || fail "both protocols should say '$text'"
done
grep -qF "Лаборатория Б" "$WORK/protocol.txt" && fail "the protocol took today's settings"
# Past the reference's due date no run starts.
keys 8
wait_for "Срок поверки установки ЭУ7125М № 77 истёк 2000-01-01: поверка невозможна."
wait_for "<8>  - Поверка."
keys Escape
wait_exit 15 >/dev/null
echo "ok"
