#!/usr/bin/env bash
# Runs the benchmarks on SQLite and on a PostgreSQL server of its own.
# Results are ratios against a baseline measured in the same run.
#
#   bash scripts/bench.sh                  every benchmark program
#   bash scripts/bench.sh throughput [..]  only throughput_bench, with its own
#                                          options (docs/benchmarks.md)
#   bash scripts/bench.sh job [..]         only job_bench (any NAME of bench/NAME_bench.cc)
set -euo pipefail
cd "$(dirname "$0")/.."
only=""
if [ $# -gt 0 ] && [ -f "bench/${1}_bench.cc" ]; then
  only=$1
  shift
fi
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" 2>&1 | grep -E "error|warning" || true
pgdir=$(mktemp -d /tmp/evd-pgb.XXXXXX)
trap 'bash scripts/pg_server.sh stop "$pgdir"; rm -rf "$pgdir"' EXIT
# With the server's default durability: every commit reaches the disk.
EVD_BENCH_PG_URI=$(bash scripts/pg_server.sh start "$pgdir" durable)
export EVD_BENCH_PG_URI
for b in build/bench/*_bench; do
  name=$(basename "$b" _bench)
  [ -z "$only" ] || [ "$name" = "$only" ] || continue
  echo "== $b"
  if [ "$name" = throughput ]; then
    # Its own options; it times itself and writes build/bench/throughput.json.
    "$b" "$@"
  else
    "$b" --benchmark_min_time=0.5 "$@"
  fi
done
