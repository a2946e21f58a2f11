#!/usr/bin/env bash
# Limits from the meter's class, as benches verify with them. A bench of its
# own whose device reports the type of a class 1 meter of meters.sch runs a
# programme without limits: each point is judged by the row of its current
# (a value passes at 0,06 Ib and fails at Ib), a point below every range is
# not judged, a limit on a programme line wins; every point keeps three
# readings, their mean and spread. The failed point is repeated with key 1,
# as a run linked to the first. A 0,5S meter through transformers, a class
# the program carries no figures for, is judged by the rows of the
# laboratory's classes.sch (figures of this test's own, "Испытательная
# таблица qs"): points on the boundaries of its rows, a point no row judges,
# a programme limit winning; rows that overlap refuse key 8 with their
# lines. Then a stand of two benches, a class 1 and a class 2 meter, runs
# one programme (a classes.sch with a bad field first refuses key a at the
# master): the same channel value fails on one and passes on the other,
# each record naming its class row. A power factor
# written with a comma sets the installation to it; every run, however it
# ends, leaves the installation reset. A point lasts until the meter has
# given its minimum pulses, up to the measuring's bound, and one that cannot
# is not measured, with the one count of pulses the report shows.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
e2e_init "$1" "$2" "$3"
ZUSIM="$(dirname "$DEVSIM")/qs-zusim"
mkdir -p "$WORK/QS_ADD"
samples="$(cd "$(dirname "$0")/../../samples/QS_ADD" && pwd)"
cp "$samples/reg_7758_1.txt" "$WORK/QS_ADD/"
# (A1's constant is the test's own: pulses come fast enough for short points.)
printf 'Meter:\tA1\t3Ф4П(220В)\t1\t2\tпрямое\t5\t60\t100000\t16\t\nMeter:\tB2\t3Ф3П(127В)\t2\t-\tпрямое\t5\t60\t1000\t16\t\n' \
  >"$WORK/QS_ADD/meters.sch"
printf 'Meter:\tC05\t-\t0,5S\t-\tтт\t1\t1,5\t20000\t12\t\n' >>"$WORK/QS_ADD/meters.sch"
measure='Measure:\t0\t3\t0\t0\t\n'
printf "Task_1:\t3\t21\t\nTask_2:\t4\t22\t\nPort_ZU:\t5\t1\t0\t\nVer:\t1\t2\t3\tE2E\tprog.txt\t\n$measure" \
  >"$WORK/QS_ADD/common.sch"
printf 'Ver:\t1\t2\t4\tE2E 0,5S\tprog05.txt\ttype=C05\t\n' >>"$WORK/QS_ADD/common.sch"
# The laboratory's rows of a 0,5S meter: this test's own figures, no
# standard's. A row's line is its line in the file (the comment is line 1).
# classes ROW3-CURRENT ROW4-LIMIT
classes() {
  local t1='Испытательная таблица qs, табл. 1' t2='Испытательная таблица qs, табл. 2'
  {
    printf '## Испытательная таблица qs: figures of the test, not of a standard\n'
    printf 'Row:\t%s\tактивная\t0,5S\tтт\t0,01Iном ≤ I < 0,05Iном\t1\tвсе фазы\t1,0\t\n' "$t1"
    printf 'Row:\t%s\tактивная\t0,5S\tтт\t%s\t1\tвсе фазы\t1,12\t\n' "$t1" "$1"
    printf 'Row:\t%s\tактивная\t0,5S\tтт\t0,05Iном < I ≤ Imax\t1\tодна фаза\t%s\t\n' "$t2" "$2"
  } >"$WORK/QS_ADD/classes.sch"
}
classes '0,05Iном ≤ I ≤ Imax' '0,9'
# In 1 A, Imax 1,5 A. Channel values 0,8 + 0,3 (ABC; 0 for A) + 0,001 per
# percent of current (below 100): 1,101 at 0,01 In, 1,105 at 0,05 In, 1,100
# at Imax and at In, 0,850 at 0,5 In on phase A.
cat >"$WORK/QS_ADD/prog05.txt" <<'EOF'
A1_1	57.7	100	1	1	1.0	N	0	0	0	ABC
A1_2	57.7	100	1	5	1.0	N	0	0	0	ABC
A1_3	57.7	100	1.5	100	1.0	N	0	0	0	ABC
A1_4	57.7	100	1	5	1.0	N	0	0	0	A
A1_5	57.7	100	1	50	1.0	N	0	0	0	A
A1_6	57.7	100	1	100	1.0	N	0	0	0	ABC	1,05
EOF
printf 'Ver:\t1\t2\t5\tИмпульсы\tpulses.txt\tmeasure=0 2 1 25 3\t\n' >>"$WORK/QS_ADD/common.sch"

printf 'Ver:\t1\t2\t3\tE2E\tprog.txt\t\n' >"$WORK/QS_ADD/common1.sch"
# Channel values 0,8 + 0,3 (ABC) + 0,001 per percent of current: 1,100 at
# Ib, 1,106 at 0,06 Ib.
cat >"$WORK/QS_ADD/prog.txt" <<'EOF'
A1_1	220	100	5	100	1.0	N	0	0	0	ABC
A1_2	220	100	5	6	1.0	N	0	0	0	ABC
A1_3	220	100	5	2	1.0	N	0	0	0	ABC
A1_4	220	100	5	100	1.0	N	0	0	0	ABC	1,2
A1_5	220	100	5	100	0,5	L	0	0	0	ABC
EOF
# At Ib the pulses come before the minimum second, at 0,2 Ib they hold the
# point past it, at 0,02 Ib they cannot come within the bound of 3 s.
cat >"$WORK/QS_ADD/pulses.txt" <<'EOF'
A1_1	220	100	5	100	1.0	N	0	0	0	ABC
A1_2	220	100	5	20	1.0	N	0	0	0	ABC
A1_3	220	100	5	2	1.0	N	0	0	0	ABC
EOF
start_devsim --link "$WORK/QS_ADD/com3"
"$DEVSIM" --address 22 --serial 222222 --type 2 --link "$WORK/QS_ADD/com4" >/dev/null 2>&1 &
PIDS+=($!)
"$ZUSIM" --link "$WORK/QS_ADD/com5" --ready-file "$WORK/zusim.ready" --report-ms 50 --errors 0.8,0.8,0.8 \
  --spread 0.004 --events "$WORK/events" >/dev/null 2>&1 &
PIDS+=($!)
wait_file "$WORK/zusim.ready" 10

# The points of the records as "run;bench;point;limit;source;state;reason;
# readings;spread 1;warning;retest of" lines.
records() {
  (cd "$WORK" && "$QS" report --csv points.csv >/dev/null) || fail "no report"
  python3 - "$WORK/points.csv" <<'PY'
import csv, sys
rows = list(csv.reader(open(sys.argv[1], encoding="utf-8-sig"), delimiter=";"))
h = rows[0]
for r in rows[1:]:
    f = dict(zip(h, r))
    print(";".join([f["Прогон"], f["Стенд"], f["Точка"], f["Допуск, %"], f["Источник допуска"], f["Итог точки"],
                    f["Причина"], f["Отсчётов"], f["Размах 1"], f["Предупреждение"], f["Повтор прогона"],
                    f["Итог прогона"], f["Канал 1"], f["Импульсов"], f["Длительность, с"]]))
PY
}
expect() { grep -qF -- "$1" <<<"$2" || fail "no record line with '$1' in:
$2"; }

e2e_start "$QS"
wait_for "<8>  - Поверка."
keys 8
wait_for " <1>  Ver E2E"
keys 1
wait_for "Поверка завершена. Итог: не годен. <1> повторить: 2" 120
row 19 | grep -qF "Счётчик A1: класс 1, Iб 5,000 А, Imax 60,000 А" || fail "type line: $(row 19)"
row 35 | grep -qF "Установка сброшена." || fail "no reset said: $(row 35)"
# The installation was set to cos φ 0,5 inductive (its key I) as written,
# and reset once the run had ended.
grep -qE '^set [0-9A-F]{2} 220\.00 100\.00 5\.000 100\.00 0\.50 I ' "$WORK/events" || fail "no point at cos φ 0,5: $(cat "$WORK/events")"
[ "$(tail -1 "$WORK/events")" = "reset" ] || fail "the run left the installation set: $(tail -3 "$WORK/events")"
got=$(records)
row1="класс 1, ГОСТ 31819.21-2012, табл. 6, 0,1Iб ≤ I ≤ Imax, cos φ = 1"
expect "1;0;1;1,0;$row1;не годен;;3;" "$got"
expect "1;0;2;1,5;класс 1, ГОСТ 31819.21-2012, табл. 6, 0,05Iб ≤ I < 0,1Iб, cos φ = 1;годен;;3;" "$got"
expect "1;0;3;;класс 1: ток ниже 0,05Iб;не оценено;класс 1: ток ниже 0,05Iб;3;" "$got"
expect "1;0;4;1,2;QS_ADD/prog.txt:4;годен;;3;" "$got"
expect "1;0;5;1,0;класс 1, ГОСТ 31819.21-2012, табл. 6, 0,2Iб ≤ I ≤ Imax, cos φ = 0,5 L;не годен;;3;" "$got"
# Readings of a channel differ by the installation's spread.
grep -q '^1;0;1;.*;3;0,00[0-9];;' <<<"$got" || fail "readings of point 1: $got"
keys 1
wait_for "Повторная поверка завершена. Итог: не годен. <1> повторить: 2" 120
keys Enter
wait_for "<8>  - Поверка."
got=$(records)
expect "2;0;1;1,0;$row1;не годен;;3;" "$got"
grep -q '^2;0;1;.*;1;не годен;' <<<"$got" || fail "the repeat is not linked to run 1: $got"
(cd "$WORK" && "$QS" report --last 1 --html protocol.html >/dev/null) || fail "no protocol"
grep -qF "Протокол поверки № 2 (повторно, к протоколу № 1)" "$WORK/protocol.html" || fail "protocol of the repeat"
# The 0,5S meter. Rows of the laboratory that overlap: no run starts.
classes '0,04Iном ≤ I ≤ Imax' '0,9'
keys 8
wait_for "строки 2 и 3 файла QS_ADD/classes.sch: ток «0,01Iном ≤ I < 0,05Iном» и"
wait_for "«0,04Iном ≤ I ≤ Imax» перекрываются (класс 0,5S, cos φ = 1). Поверка"
wait_for "<8>  - Поверка."
classes '0,05Iном ≤ I ≤ Imax' '0,9'
keys 8
wait_for " <2>  Ver E2E 0,5S"
keys 2
wait_for "Поверка завершена. Итог: не годен. <1> повторить: 2" 120
row 19 | grep -qF "Счётчик C05: класс 0,5S, Iном 1,000 А, Imax 1,500 А" || fail "type line: $(row 19)"
got=$(records | grep '^3;')
t1="Испытательная таблица qs, табл. 1"
low="$t1, 0,01Iном ≤ I < 0,05Iном, cos φ = 1 (classes.sch:2)"
high="$t1, 0,05Iном ≤ I ≤ Imax, cos φ = 1 (classes.sch:3)"
one="Испытательная таблица qs, табл. 2, 0,05Iном < I ≤ Imax, cos φ = 1, нагрузка одной фазы (classes.sch:4)"
expect "3;0;1;1,0;$low;не годен;;3;" "$got"
expect "3;0;2;1,12;$high;годен;;3;" "$got"
expect "3;0;3;1,12;$high;годен;;3;" "$got"
expect "3;0;4;;класс 0,5S: ток не выше 0,05Iном;не оценено;класс 0,5S: ток не выше 0,05Iном;3;" "$got"
expect "3;0;5;0,9;$one;годен;;3;" "$got"
expect "3;0;6;1,05;QS_ADD/prog05.txt:6;не годен;;3;" "$got"
# The protocol's footnotes name the laboratory's rows as it cited them.
(cd "$WORK" && "$QS" report --last 1 --html protocol.html >/dev/null) || fail "no protocol"
for text in "[1] ${low/</\&lt;}" "[2] $high" "[3] ${one/</\&lt;}" "[4] QS_ADD/prog05.txt:6"; do
  grep -qF -- "$text" "$WORK/protocol.html" || fail "the protocol's footnotes lack '$text'"
done
keys Enter
wait_for "<8>  - Поверка."
# The pulses: run 4.
keys 8
wait_for " <3>  Ver Импульсы"
keys 3
wait_for "Поверка завершена. Итог: не годен." 60
got=$(records | grep '^4;')
grep -qE '^4;0;1;1,0;.*;не годен;;2;.*;(2[5-9]|[3-9][0-9]|[0-9]{3,});[0-9]' <<<"$got" || fail "point at Ib: $got"
# (25 pulses at 0,2 Ib take about 1,4 s after the pulse error is on.)
grep -qE '^4;0;2;1,0;.*;не годен;;2;.*;(2[5-9]|[3-9][0-9]);(1,[4-9]|[2-9],[0-9])$' <<<"$got" || fail "point at 0,2 Ib: $got"
line3=$(grep '^4;0;3;' <<<"$got")
n=$(cut -d';' -f14 <<<"$line3")
grep -qE "^4;0;3;;класс 1: ток ниже 0,05Iб;не измерено;импульсов $n < 25;2;" <<<"$line3" || fail "point at 0,02 Ib: $line3"
[ "$n" -lt 25 ] || fail "$n pulses at 0,02 Ib in 3 s"
keys Enter
wait_for "<8>  - Поверка."
keys Escape
wait_exit 15 >/dev/null
tmux -L "$SOCK" kill-server

# A stand: bench 1 verifies a class 1 meter, bench 2 a class 2 meter.
printf '%s\n' 'A1_1	220	100	5	100	1.0	N	0	0	0	ABC' >"$WORK/QS_ADD/prog.txt"
e2e_start "$QS m"
wait_for "Введите колличество ведомых задач"
keys 2
wait_for "2.(0x22,COM4): State" 40
wait_for "1.(0x21,COM3): State"
# A field of classes.sch that does not read: the stand does not start.
classes '0,05Iном ≤ I ≤ Imax' '0,9%'
keys a
wait_for "строка 4 файла QS_ADD/classes.sch: допуск «0,9%»: число процентов больше 0,"
wait_for "не больше трёх знаков после запятой. Поверка невозможна."
screen | grep -qF "( Stop )" || fail "the stand started with a refused classes.sch"
classes '0,05Iном ≤ I ≤ Imax' '0,9'
keys a
wait_for "Start"
for b in 1 2; do
  wait_win $b "<8>  - Поверка."
  tmux -L "$SOCK" send-keys -t "qs:$b" 8
  wait_win $b "Программы поверки:"
  tmux -L "$SOCK" send-keys -t "qs:$b" 1
done
wait_win 1 "Поверка завершена. Итог: не годен." 120
wait_win 2 "Поверка завершена. Итог: годен." 60
# The stand leaves the installation reset once both benches have ended.
for i in $(seq 100); do
  [ "$(tail -1 "$WORK/events")" = "reset" ] && break
  sleep 0.1
done
[ "$(tail -1 "$WORK/events")" = "reset" ] || fail "the stand left the installation set: $(tail -3 "$WORK/events")"
got=$(records | grep -E '^(5|6);')
expect ";1;1;1,0;$row1;не годен;;3;" "$got"
expect ";2;1;2,0;класс 2, ГОСТ 31819.21-2012, табл. 6, 0,1Iб ≤ I ≤ Imax, cos φ = 1;годен;;3;" "$got"
# (The installation's values go round 1,098, 1,100, 1,102: means of three
# readings stay between, far from both limits.)
[ "$(cut -d';' -f13 <<<"$got" | grep -cE '^1,(09[89]|10[0-2])$')" = 2 ] || fail "not the same value on both benches: $got"
echo "ok"
