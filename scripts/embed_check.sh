#!/usr/bin/env bash
# Installs the library of build DIR into a temporary prefix, then builds the
# example host of examples/embed against the installed package twice (CMake's
# find_package, then pkg-config) and runs each on SQLite, and on PostgreSQL
# when EVD_TEST_PG_URI names a server. A host that cannot be built, or an
# event of the alert type given a rule that is not handled, fails the check.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
prefix=$(mktemp -d /tmp/evd-install.XXXXXX)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

cmake -S examples/embed -B "$prefix/build-cmake" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/build-cmake" >/dev/null
pc=$(dirname "$(find "$prefix" -name evdetector.pc)")
libdir=$(PKG_CONFIG_PATH=$pc pkg-config --variable=libdir evdetector)
# shellcheck disable=SC2046  # pkg-config's flags split on purpose
g++ -std=c++20 examples/embed/main.cc $(PKG_CONFIG_PATH=$pc pkg-config --cflags --libs evdetector) \
  -Wl,-rpath,"$libdir" -o "$prefix/embed_pc"

dbs=("$prefix/embed.db")
[ -n "${EVD_TEST_PG_URI:-}" ] && dbs+=("$EVD_TEST_PG_URI")
status=0
for db in "${dbs[@]}"; do
  "$build/evdetect" init --db "$db" >/dev/null
  "$build/evdetect" rule add --db "$db" --type 3 --name "Embedded host check" >/dev/null
  for host in "$prefix/build-cmake/embed_host" "$prefix/embed_pc"; do
    out=$("$host" "$db" examples/events.jsonl) || true
    if grep -q "handled, alert type 3," <<<"$out" && ! grep -q "failed" <<<"$out"; then
      echo "embed: ${host##*/} on ${db%%:*}: $(wc -l <<<"$out") events, ok"
    else
      echo "embed: ${host##*/} on ${db%%:*} FAILED:"; echo "$out"; status=1
    fi
  done
done
exit $status
