#!/usr/bin/env bash
# qs.exe report with names in Cyrillic letters, as an office computer types
# them: the database in a folder named "данные", the CSV written as
# "отчёт.csv" beside it. The names reach the file system whole whatever
# Wine's ANSI code page is, the status is 0, and the CSV is the one the
# Linux qs writes from the same database, byte for byte. The listing shown in
# a console is the Linux one as well, and the console's output code page is
# the shell's own again once qs.exe has ended. The registry's upload is
# written as "данные/отчёт.xml", the Linux one byte for byte.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
win_init "$1" "$2" "$3"

db=$(readlink -f "$(dirname "$0")/../data/report/v0-results.db")
[ -f "$db" ] || fail "no results database at $db"

# Each program reads a copy of its own.
folder="$WORK/данные"
mkdir -p "$folder"
cp "$db" "$folder/results.db"
cp "$db" "$WORK/native.db"

(cd "$WORK" && "$NATIVE/qs" report --db native.db --csv native.csv >/dev/null) || fail "the Linux report failed"
(cd "$WORK" && "$NATIVE/qs" report --db native.db --last 0 >native.txt) || fail "the Linux listing failed"
[ "$(wc -l <"$WORK/native.csv")" -ge 2 ] || fail "the database gives no points: nothing to compare"

status=0
(cd "$WORK" && WINEDEBUG=-all "$WINE" "$QS_EXE" report --db "$(winpath "$folder/results.db")" \
  --csv "$(winpath "$folder/отчёт.csv")" >out.txt 2>err.txt) || status=$?
[ "$status" = "0" ] || fail "qs.exe report: status $status: $(cat "$WORK/err.txt")"
[ -f "$folder/отчёт.csv" ] || fail "no отчёт.csv in данные: $(ls "$folder" "$WORK" | tr '\n' ' ')"
cmp "$WORK/native.csv" "$folder/отчёт.csv" || fail "the CSV of qs.exe is not the Linux one"

# The registry's upload, to a name in Cyrillic letters.
registered=$(readlink -f "$(dirname "$0")/../data/registry/registered.db")
cp "$registered" "$folder/поверки.db"
cp "$registered" "$WORK/registered.db"
(cd "$WORK" && "$NATIVE/qs" report --db registered.db --registry native.xml >/dev/null) || fail "the Linux upload failed"
status=0
(cd "$WORK" && WINEDEBUG=-all "$WINE" "$QS_EXE" report --db "$(winpath "$folder/поверки.db")" \
  --registry "$(winpath "$folder/отчёт.xml")" >xml-out.txt 2>xml-err.txt) || status=$?
[ "$status" = "0" ] || fail "qs.exe report --registry: status $status: $(cat "$WORK/xml-err.txt")"
[ -f "$folder/отчёт.xml" ] || fail "no отчёт.xml in данные: $(ls "$folder" | tr '\n' ' ')"
cmp "$WORK/native.xml" "$folder/отчёт.xml" || fail "the upload of qs.exe is not the Linux one"
grep -qF "записей: 3, не выгружено: 5" "$WORK/xml-out.txt" || fail "qs.exe said: $(cat "$WORK/xml-out.txt")"

# The listing in a console window (written there as characters), and the
# console's code pages before and after it. cmd reads its script in the
# console's code page: the script names only a copy of the database in
# Latin letters.
codepages="$(dirname "$WINKEYS")/qs-codepages.exe"
[ -f "$codepages" ] || fail "no $codepages"
cp "$db" "$WORK/listing.db"
cat >"$WORK/listing.cmd" <<CMD
@chcp 866 >nul
@"$(winpath "$codepages")"
@"$(winpath "$QS_EXE")" report --db "$(winpath "$WORK/listing.db")" --last 0
@echo status %ERRORLEVEL%
@"$(winpath "$codepages")"
CMD
e2e_start "WINEDEBUG=-all '$WINE' cmd /c '$(winpath "$WORK/listing.cmd")'"
wait_exit 60 >/dev/null
wait_for "status 0" 10
# The second line comes after qs.exe has ended.
[ "$(screen | grep -c '^input 866 output 866')" = "2" ] || fail "the console's code page was not given back"
# The listing's first line: the Linux listing's, as far as a 100-column
# console shows it on one row.
head=$(head -n 1 "$WORK/native.txt")
head=${head:0:60}
screen | grep -qF -- "$head" || fail "the listing's first line '$head' is not on the screen"
echo ok
