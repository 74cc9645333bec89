#!/usr/bin/env bash
# start DIR [durable] | stop DIR: a throw-away PostgreSQL cluster for the
# tests, owned by the postgres user, listening only on a Unix socket inside
# DIR. `start` prints the URI of its database on standard output.
# The tests' server writes nothing through to disk (fsync, synchronous commit
# and full page writes off); `durable` keeps the server's default durability,
# as benchmarks need.
set -euo pipefail
cmd=$1 dir=$2 durability=${3:-fast}
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
run_pg() { if [ "$(id -u)" = 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi; }
case $cmd in
  start)
    rm -rf "$dir"; mkdir -p "$dir"
    [ "$(id -u)" = 0 ] && chown postgres: "$dir"
    run_pg "$bin/initdb" -D "$dir/data" -U postgres -A trust --no-sync >"$dir/initdb.log" 2>&1
    port=$((20000 + RANDOM % 20000))
    opts="-k $dir -p $port -c listen_addresses=''"
    [ "$durability" = durable ] || opts="$opts -c fsync=off -c synchronous_commit=off -c full_page_writes=off"
    run_pg "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 -o "$opts" start >/dev/null
    run_pg "$bin/createdb" -h "$dir" -p "$port" -U postgres evdtest
    echo "postgresql:///evdtest?host=$dir&port=$port&user=postgres"
    ;;
  stop)
    [ -d "$dir/data" ] && run_pg "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    ;;
esac
