#!/usr/bin/env bash
# Builds and runs every test: the suite on SQLite and on a PostgreSQL server of
# its own, once in the Release build a user makes (so that an optimiser-only
# warning cannot break theirs unseen) and once under AddressSanitizer + UBSan.
# Both builds treat warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/layers.sh
bash scripts/deps.sh
jobs=$(nproc)

build() {  # build DIR BUILD_TYPE [cmake args...]
  local dir=$1 type=$2; shift 2
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DEVD_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs" 2>&1 | grep -E "error|warning|Error" || true
  test "${PIPESTATUS[0]}" = 0
}
build build Release
build build-asan RelWithDebInfo -DEVD_SANITIZE=ON -DEVD_BUILD_BENCH=OFF

pgdir=$(mktemp -d /tmp/evd-pg.XXXXXX)
trap 'bash scripts/pg_server.sh stop "$pgdir"; rm -rf "$pgdir"' EXIT
EVD_TEST_PG_URI=$(bash scripts/pg_server.sh start "$pgdir")
export EVD_TEST_PG_URI EVD_TEST_REQUIRE_PG=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

status=0
echo "== tests (release build)"
ctest --test-dir build --output-on-failure -j "$jobs" || status=1
echo "== tests (AddressSanitizer + UndefinedBehaviorSanitizer)"
ctest --test-dir build-asan --output-on-failure -j "$jobs" || status=1
echo "== installed library: examples/embed built with CMake and with pkg-config"
bash scripts/embed_check.sh build || status=1
if [ -x scripts/fuzz.sh ]; then
  echo "== fuzz (short run)"
  bash scripts/fuzz.sh || status=1
fi
exit $status
