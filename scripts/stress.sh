#!/usr/bin/env bash
# Several detectors on one database: PROCS evdetect runs side by side, EVENTS
# events in all, repeated free-space alerts (type 10, criteria 77) and their
# clears over 50 clients, every run in a different order. Prints the time,
# the events each run failed and the pending occurrences recorded twice for
# one client (there must be none).
#
#   scripts/stress.sh DB [PROCS] [EVENTS] [evdetect run options...]
#   scripts/stress.sh "$EVD_TEST_PG_URI" 12 100000 --group 100
#
# DB is a PostgreSQL URI or a SQLite path; it is initialised and given a rule
# for type 10 when it has none. Nothing of the test suite runs this.
set -uo pipefail
cd "$(dirname "$0")/.."
db=${1:?usage: stress.sh DB [PROCS] [EVENTS] [run options...]}
procs=${2:-12}
events=${3:-100000}
shift $(($# < 3 ? $# : 3))
evdetect=${EVDETECT:-./build/evdetect}
work=$(mktemp -d /tmp/evd-stress.XXXXXX)
trap 'rm -rf "$work"' EXIT

"$evdetect" init --db "$db" >/dev/null || exit 3
if ! "$evdetect" rule list --db "$db" | awk 'NR > 1 && $2 == 10 { found = 1 } END { exit !found }'; then
  "$evdetect" rule add --db "$db" --type 10 --name "Stress: free space" >/dev/null || exit 3
fi

per=$((events / procs))
for p in $(seq 1 "$procs"); do
  # The runs walk the 50 clients in turn, half of them backwards, so they
  # meet on the same client, in opposite orders; every third pass clears
  # every client, and the next one records each anew.
  awk -v n="$per" -v p="$p" 'BEGIN {
    for (i = 0; i < n; i++) {
      c = (p % 4 < 2) ? 1 + i % 50 : 50 - i % 50
      cleared = (int(i / 50) % 3 == 2) ? ",\"conditionCleared\":true" : ""
      printf "{\"alertType\":10,\"alertCriteria\":77,\"clientId\":%d,\"clientName\":\"c%d\",\"mediaAgentId\":7,", c, c
      printf "\"freeSpace\":%d,\"threshold\":1024,\"foldersList\":[\"/data\"],\"freeSpaceList\":[%d],\"thresholdsList\":[1024]%s}\n", i % 1000, i % 1000, cleared
    }
  }' >"$work/events.$p.jsonl"
done

start=$(date +%s.%N)
for p in $(seq 1 "$procs"); do
  "$evdetect" run --db "$db" --json "$@" "$work/events.$p.jsonl" >"$work/out.$p" 2>"$work/err.$p" &
done
wait
end=$(date +%s.%N)

failed=0
handled=0
for p in $(seq 1 "$procs"); do
  f=$(grep -o '"failed": [0-9]*' "$work/out.$p" | grep -o '[0-9]*$')
  h=$(grep -o '"handled": [0-9]*' "$work/out.$p" | grep -o '[0-9]*$')
  failed=$((failed + ${f:-$per}))
  handled=$((handled + ${h:-0}))
done
sql="SELECT COUNT(*) FROM (SELECT entityId FROM NTDetectedAlerts WHERE alertType = 10 AND criteria = 77
     AND (processStat & 67) <> 0 GROUP BY entityId HAVING COUNT(*) > 1) d"
case $db in
  postgres*|*=*) duplicates=$(psql "$db" -Atc "$sql") ;;
  *) duplicates=$(sqlite3 "${db#sqlite:}" "$sql") ;;
esac
awk -v s="$start" -v e="$end" -v n="$((per * procs))" -v h="$handled" -v f="$failed" -v d="$duplicates" -v p="$procs" 'BEGIN {
  printf "%d runs, %d events: %.1f s, %.0f events/s, %d handled, %d failed, %d clients with duplicate pending occurrences\n",
         p, n, e - s, n / (e - s), h, f, d
}'
head -q -n 3 "$work"/err.* | head -n 5
