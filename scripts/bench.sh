#!/usr/bin/env bash
# Runs the benchmarks on SQLite and on a PostgreSQL server of its own.
# Results are ratios against a baseline measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" 2>&1 | grep -E "error|warning" || true
pgdir=$(mktemp -d /tmp/evd-pgb.XXXXXX)
trap 'bash scripts/pg_server.sh stop "$pgdir"; rm -rf "$pgdir"' EXIT
EVD_BENCH_PG_URI=$(bash scripts/pg_server.sh start "$pgdir")
export EVD_BENCH_PG_URI
for b in build/bench/*_bench; do
  echo "== $b"
  "$b" --benchmark_min_time=0.5 "$@"
done
