#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one briefly, seeded
# with the documented examples. A crash or sanitizer report fails the run.
#
# EVD_FUZZ_SECONDS sets how long each target runs; EVD_FUZZ_TARGETS picks
# targets (default: all). The whole pipeline for an hour, say:
#   EVD_FUZZ_SECONDS=3600 EVD_FUZZ_TARGETS=pipeline bash scripts/fuzz.sh
# Findings are left in build-fuzz/ as crash-* files beside the logs.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${EVD_FUZZ_SECONDS:-20}
out=build-fuzz
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I. -Iinclude)

clang++ "${flags[@]}" fuzz/messages_fuzz.cc host/messages/*.cc -lpugixml -o "$out/messages_fuzz"

# The event reader and the pipeline target link the detector's library,
# built with clang under the same sanitizers (kept in $out/lib, so later runs
# rebuild only what changed) and linked in statically.
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
cmake -S . -B "$out/lib" -DCMAKE_BUILD_TYPE=None -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  "${launcher[@]}" -DBUILD_SHARED_LIBS=OFF -DEVD_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="-O1 -g -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
  >"$out/lib.log" 2>&1
if ! cmake --build "$out/lib" -j2 --target evd_detector >>"$out/lib.log" 2>&1; then
  echo "building the library for fuzzing FAILED:"; grep -E "error" "$out/lib.log" | head -n 20; exit 1
fi
for t in event_json pipeline; do
  clang++ "${flags[@]}" "fuzz/${t}_fuzz.cc" "$out/lib/libevdetector.a" -lsqlite3 -lpq -lpugixml -lsimdjson -lpthread -lrt \
    -o "$out/${t}_fuzz"
done

# Seeds: the example lines and message documents of the docs.
rm -rf "$out/seed-events" "$out/seed-messages"
mkdir -p "$out/seed-events" "$out/seed-messages"
n=0
grep '^{' docs/events.md examples/*.jsonl -h | while IFS= read -r line; do
  n=$((n + 1)); printf '%s' "$line" >"$out/seed-events/$n"
done
awk '/^```xml/{f=1; n++; next} /^```/{f=0} f{print > (dir "/" n)}' dir="$out/seed-messages" docs/messages.md

status=0
for t in ${EVD_FUZZ_TARGETS:-event_json messages pipeline}; do
  seeds=$out/seed-events
  [ $t = messages ] && seeds=$out/seed-messages
  mkdir -p "$out/corpus-$t"
  echo "fuzz $t for ${secs}s"
  if ! "$out/${t}_fuzz" -max_total_time="$secs" -max_len=65536 -timeout=10 -print_final_stats=0 \
      -artifact_prefix="$out/crash-$t-" "$out/corpus-$t" "$seeds" >"$out/$t.log" 2>&1; then
    echo "fuzz $t FAILED:"; tail -n 40 "$out/$t.log"; status=1
  else
    grep -E "^Done|#[0-9]+.*DONE" "$out/$t.log" | tail -n 1 || true
  fi
done
exit $status
