#!/usr/bin/env bash
# A laboratory of two stands, each its own folder, installation and code:
# each verifies a meter, writes the copy of its results.db for the office,
# and the office reports both copies at once: the protocols print with
# numbers that carry the stands' codes, the CSV and the registry's upload
# hold both meters, and the upload passes the schema.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
ZUSIM="$(dirname "$DEVSIM")/qs-zusim"
tools="$(cd "$(dirname "$0")/../tools" && pwd)"
schema="$(cd "$(dirname "$0")/../data/registry" && pwd)/import-2020-06-19.xsd"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
mkdir -p "$WORK/office"
for n in 1 2; do
  s="$WORK/stand$n"
  mkdir -p "$s/QS_ADD"
  cp "$samples/reg_7758_1.txt" "$s/QS_ADD/"
  {
    printf 'Task_1:\t3\t21\t\nPort_ZU:\t5\t1\t0\t\nVer:\t1\t2\t3\tE2E\tprog.txt\t\n'
    printf 'Lab:\tЛаборатория\tг. Энск\tRA.RU.1\tМП 1\t15-25\t30-80\t84-106\t\n'
    printf 'Ref:\tЭУ7125М\t7%d\t2099-12-31\t20189.07.РЭ.0135%d\t\n' "$n" "$n"
    printf 'Registry:\tАБВ\t1\t0\t\nStand:\tС%d\t\n' "$n"
  } >"$s/QS_ADD/common.sch"
  printf 'Meter:\tA1\t3Ф4П(220В)\t1\t2\tпрямое\t5\t60\t1000\t16\t36697-17\t-\t\n' >"$s/QS_ADD/meters.sch"
  printf 'A1_1\t220\t100\t5\t100\t1.0\tN\t0\t0\t0\tABC\t1,0\n' >"$s/QS_ADD/prog.txt"
  "$DEVSIM" --serial "00000$n" --link "$s/QS_ADD/com3" --ready-file "$s/devsim.ready" >/dev/null 2>&1 &
  PIDS+=($!)
  "$ZUSIM" --link "$s/QS_ADD/com5" --ready-file "$s/zusim.ready" --report-ms 50 --errors 0.2,0.1,0.3 >/dev/null 2>&1 &
  PIDS+=($!)
  wait_file "$s/devsim.ready" 10
  wait_file "$s/zusim.ready" 10

  e2e_start "cd '$s' && '$QS'"
  wait_for "<8>  - Поверка."
  keys 8
  wait_for " <1>  Ver E2E"
  keys 1
  wait_for "Поверитель:"
  keys "Иванов И. И." Enter
  wait_for "Температура, °C:"
  keys 21,5 Enter
  wait_for "Влажность, %:"
  keys 55 Enter
  wait_for "Давление, кПа:"
  keys 99,8 Enter
  wait_for "Владелец:"
  keys "ООО Заказчик $n" Enter
  wait_for "Поверка завершена. Итог: годен." 60
  keys Enter
  wait_for "<8>  - Поверка."
  keys Escape
  wait_exit 15 >/dev/null
  tmux -L "$SOCK" kill-server
  (cd "$s" && "$QS" report --copy "$WORK/office/stand$n.db" >/dev/null) || fail "stand $n: no copy"
done

cd "$WORK"
"$QS" report --db office --html all.html --csv all.csv --registry day.xml >report.out 2>&1 || fail "office report: $(cat report.out)"
for n in 1 2; do
  grep -qF "Протокол поверки № С$n-000001" all.html || fail "no protocol С$n-000001"
  grep -qF "00000$n" day.xml || fail "the upload lacks meter 00000$n"
done
grep -qF "записей: 2, не выгружено: 0" report.out || fail "$(cat report.out)"
[ "$(grep -c '"=""С[12]-000001"""' all.csv)" = 2 ] || fail "the CSV lacks a stand's protocol number"
if command -v xmllint >/dev/null; then
  xmllint --noout --schema "$schema" day.xml 2>/dev/null || fail "the upload does not pass the schema"
fi
if command -v chromium >/dev/null && command -v pdftotext >/dev/null; then
  python3 "$tools/check_protocol_pdf.py" "$(command -v chromium)" "$WORK/all.html" >/dev/null || fail "the protocols do not print"
fi
echo "ok"
