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
wait_for "Температура, °C:"
keys 21.5 Enter
wait_for "Влажность, %:"
keys 85 Enter
wait_for "Давление, кПа:"
keys 99.1 Enter
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
version=$("$QS" --version | sed 's/^qs //')
for text in "Лаборатория А, г. Энск" "ЭУ7125М № 77, поверен до 2099-12-31" "температура 21,5 °C (15–25)" \
  "влажность 85,0 % — вне границ методики 30–80" "Петров П." "qs $version"; do
  [ "$(grep -cF -- "$text" "$WORK/protocol.html")" = 2 ] || fail "both protocols should say '$text'"
done
grep -qF "Лаборатория Б" "$WORK/protocol.html" && fail "the protocol took today's settings"
# Past the reference's due date no run starts.
keys 8
wait_for "Срок поверки установки ЭУ7125М № 77 истёк 2000-01-01: поверка невозможна."
wait_for "<8>  - Поверка."
keys Escape
wait_exit 15 >/dev/null
echo "ok"
