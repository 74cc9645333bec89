#!/usr/bin/env bash
# Adds a rule for every alert type that the example files use to DB, runs
# every examples/*.jsonl through the detector (events.jsonl first: one event
# per alert type; then one file per alert family with the repeat and cleared
# paths), then shows what was recorded.
set -uo pipefail
cd "$(dirname "$0")/.."
db=${1:?usage: examples.sh DB}
evdetect=./build/evdetect
files=(examples/events.jsonl)
for f in examples/*.jsonl; do [ "$f" = examples/events.jsonl ] || files+=("$f"); done
# Saved-query results name their rule by id: on a new database these three
# come first, as rules 1 to 3 (see examples/README.md).
if [ "$("$evdetect" rule list --db "$db" | tail -n +2 | wc -l)" = 0 ]; then
  "$evdetect" rule add --db "$db" --type 65 --name "Low free space (saved query 31)" >/dev/null || exit 3
  "$evdetect" rule add --db "$db" --type 65 --trend --last-value-filter --name "Backup failure trend" >/dev/null || exit 3
  "$evdetect" rule add --db "$db" --type 57 --name "Kernel errors" >/dev/null || exit 3
fi
for type in $(cat "${files[@]}" | grep -o '"alertType":[0-9]*' | cut -d: -f2 | sort -un); do
  case $type in 65|57) continue;; esac
  "$evdetect" rule add --db "$db" --type "$type" --name "Example rule for alert type $type" >/dev/null || exit 3
done
echo "== rules: $("$evdetect" rule list --db "$db" | tail -n +2 | wc -l)"
status=0
for f in "${files[@]}"; do
  echo "== evdetect run $f"
  "$evdetect" run --db "$db" "$f"
  rc=$?
  # The worst status wins; 4 (an event failed) is passed on, not fatal here.
  [ $rc -gt $status ] && status=$rc
done
echo "== evdetect show --limit 10"
"$evdetect" show --db "$db" --limit 10
exit $status
