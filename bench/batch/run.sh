#!/usr/bin/env bash
# Whole-process figures of lectoria-batch on 100,000 e-book records, each set
# against the sqlite3 shell doing the same work in the same run.
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build="${LECTORIA_BUILD_DIR:-$here/build}"
records="${RECORDS:-100000}"
cmake --build "$build" --target lectoria-batch lectoria-makedemo >/dev/null
command -v sqlite3 >/dev/null || { echo "sqlite3 shell not installed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
batch="$build/src/batch/lectoria-batch"

"$build/tools/lectoria-makedemo" --records "$records" --kind dzts "$work/www.db" --settings "$work/lectoria.conf" >/dev/null
cp "$work/www.db" "$work/empty.db"
sqlite3 "$work/empty.db" "delete from www_lineread; vacuum;"
printf '[General]\nODBCNAME=sqlite:empty.db\nSCHOOLNAME=bench\n' > "$work/empty.conf"
export LECTORIA_PASSWORD=qzmvt

seconds() { local s e; s=$(date +%s.%N); "$@" >/dev/null 2>&1; e=$(date +%s.%N); echo "$e - $s" | bc -l; }
line() { printf '%-34s %7.2f s   sqlite3 %7.2f s   ratio %5.2f\n' "$1" "$2" "$3" "$(echo "$2 / $3" | bc -l)"; }

# Listing report as CSV: the listing's statement, through the shell to CSV.
listing_sql="select * from www_lineread,www_litype where li_typeid=lt_id order by li_typeid,li_logtime DESC"
a=$(seconds env LECTORIA_SETTINGS="$work/lectoria.conf" "$batch" report dzts listing --period all --format csv \
      --output "$work/listing.csv" --operator admin)
b=$(seconds sqlite3 -csv -cmd ".output $work/shell.csv" "$work/www.db" "$listing_sql")
line "report dzts listing csv" "$a" "$b"

# Statistics as text (small result, whole-process start-up dominates).
stats_sql="select lt_id,lt_notice,count(*),sum(li_number) from www_lineread,www_litype where li_typeid=lt_id group by lt_id,lt_notice order by lt_id"
a=$(seconds env LECTORIA_SETTINGS="$work/lectoria.conf" "$batch" report dzts stats --period all --format txt \
      --output "$work/stats.txt" --operator admin)
b=$(seconds sqlite3 "$work/www.db" "$stats_sql")
line "report dzts stats txt" "$a" "$b"

# Export: every record of the period to the exchange file.
export_sql="select * from www_lineread where li_logtime>='2000-01-01' and li_logtime<'2100-01-01' order by li_logtime,li_title"
a=$(seconds env LECTORIA_SETTINGS="$work/lectoria.conf" "$batch" export dzts --from 2000-01-01 --to 2099-12-31 \
      --output "$work/dzts.txt" --operator admin)
b=$(seconds sqlite3 -csv -cmd ".output $work/export.csv" "$work/www.db" "$export_sql")
line "export dzts" "$a" "$b"

# Import: one statement per record, each taking effect as it is inserted.
a=$(seconds env LECTORIA_SETTINGS="$work/empty.conf" "$batch" import dzts "$work/dzts.txt" --operator admin)
cp "$work/empty.db" "$work/shell.db"
sqlite3 "$work/shell.db" "create table csv_in as select * from www_lineread where 0"
b=$(seconds sqlite3 -cmd ".mode csv" "$work/shell.db" ".import $work/export.csv csv_in")
line "import dzts (sqlite3 .import)" "$a" "$b"
imported=$(sqlite3 "$work/empty.db" "select count(*) from www_lineread")
echo "  imported $imported of $records records"

# Backup: a complete copy of the database file.
mkdir -p "$work/backup"
a=$(seconds env LECTORIA_SETTINGS="$work/lectoria.conf" "$batch" backup "$work/backup" --operator admin)
b=$(seconds sqlite3 "$work/www.db" ".backup $work/shell-backup.db")
line "backup" "$a" "$b"
