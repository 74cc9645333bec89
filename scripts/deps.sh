#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the benchmarks need,
# only when one is missing. Sourced by the README's commands.
set -euo pipefail
EVD_PACKAGES=(cmake make g++ pkg-config libsqlite3-dev sqlite3 libpq-dev postgresql libboost-dev
  nlohmann-json3-dev libsimdjson-dev libpugixml-dev libcli11-dev libgtest-dev libbenchmark-dev clang libclang-rt-14-dev)
missing=()
for p in "${EVD_PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
