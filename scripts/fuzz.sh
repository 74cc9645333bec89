#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each one briefly, seeded
# with the documented examples. A crash or sanitizer report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
secs=${EVD_FUZZ_SECONDS:-20}
out=build-fuzz
mkdir -p "$out"
flags=(-std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I. -Iinclude)

# shellcheck disable=SC2046  # the alert log's library flags split on purpose
clang++ "${flags[@]}" fuzz/event_json_fuzz.cc host/event_json.cc host/EvAlertEx.cc host/EvDebug.cc host/NxLog.cc host/NxSettings.cc \
  $(pkg-config --cflags --libs spdlog) -o "$out/event_json_fuzz"
clang++ "${flags[@]}" fuzz/messages_fuzz.cc host/messages/*.cc -lpugixml -o "$out/messages_fuzz"

# Seeds: the example lines and message documents of the docs.
rm -rf "$out/seed-events" "$out/seed-messages"
mkdir -p "$out/seed-events" "$out/seed-messages"
n=0
grep '^{' docs/events.md examples/events.jsonl -h | while IFS= read -r line; do
  n=$((n + 1)); printf '%s' "$line" >"$out/seed-events/$n"
done
awk '/^```xml/{f=1; n++; next} /^```/{f=0} f{print > (dir "/" n)}' dir="$out/seed-messages" docs/messages.md

status=0
for t in event_json messages; do
  seeds=$out/seed-events
  [ $t = messages ] && seeds=$out/seed-messages
  mkdir -p "$out/corpus-$t"
  echo "fuzz $t for ${secs}s"
  if ! "$out/${t}_fuzz" -max_total_time="$secs" -max_len=65536 -timeout=10 -print_final_stats=0 \
      "$out/corpus-$t" "$seeds" >"$out/$t.log" 2>&1; then
    echo "fuzz $t FAILED:"; tail -n 40 "$out/$t.log"; status=1
  else
    grep -E "^Done|#[0-9]+.*DONE" "$out/$t.log" | tail -n 1 || true
  fi
done
exit $status
