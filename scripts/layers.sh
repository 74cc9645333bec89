#!/usr/bin/env bash
# Checks that every quoted #include looks down the layers, never up. A file
# belongs to the level of the longest path prefix below that matches it;
# includes within one level are free. "Db/..." names resolve under include/.
# db-core is what both the database layer and its backends stand on: the
# interface a backend implements, the value types it binds, URIs.
# With --table, prints how many includes go from each level to each other
# one (upward ones marked "UP") instead of only the faults.
set -euo pipefail
cd "$(dirname "$0")/.."

# Top to bottom: a level may include itself and anything below it.
LEVELS='
tools       tools bench tests fuzz
detector    detector links
params      params
schema      schema
db          db include/Db
backends    db/sqlite db/postgres
db-core     db/backend.h db/sql_format.h db/sql_format.cc db/datetime.cc db/uri.h db/uri.cc include/Db/Uri.h include/Db/DbTypes.h include/Db/DbParam.h
host        host
'

mode=${1:-check}
find tools bench tests fuzz detector links params schema db include host \
    -type f \( -name '*.h' -o -name '*.cc' \) 2>/dev/null | sort |
  xargs grep -H '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' |
  awk -v levels="$LEVELS" -v mode="$mode" '
    BEGIN {
      n = split(levels, lines, "\n"); rank = 0
      for (i = 1; i <= n; i++) {
        k = split(lines[i], w, /[[:space:]]+/)
        if (k < 2 || w[1] == "") continue
        name[rank] = w[1]
        for (j = 2; j <= k; j++) if (w[j] != "") prefix[w[j]] = rank
        rank++
      }
    }
    function levelOf(path,   p, best, len) {
      best = -1; len = 0
      for (p in prefix)
        if ((path == p || index(path, p "/") == 1) && length(p) > len) { best = prefix[p]; len = length(p) }
      return best
    }
    {
      file = $0; sub(/:.*/, "", file)
      inc = $0; sub(/^[^"]*"/, "", inc); sub(/".*/, "", inc)
      if (inc ~ /^Db\//) inc = "include/" inc
      from = levelOf(file); to = levelOf(inc)
      if (from < 0 || to < 0) next
      count[name[from] " -> " name[to] (to < from ? "  UP" : "")]++
      if (to < from) { bad++; if (mode != "--table") printf "%s includes %s (%s above %s)\n", file, inc, name[to], name[from] }
    }
    END {
      if (mode == "--table") for (k in count) printf "%-32s %d\n", k, count[k] | "sort"
      exit bad > 0
    }'
