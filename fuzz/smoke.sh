#!/bin/sh
# Bounded fuzz runs: builds the `fuzz` preset when needed, then runs every target
# for FUZZ_SECONDS (default 20) on a scratch corpus seeded from fuzz/corpus/.
# A crash, overrun or broken invariant fails the run and leaves its input in
# build/fuzz/artifacts/.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${FUZZ_SECONDS:-20}
cd "$root"
[ -f build/fuzz/build.ninja ] || cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j2 >/dev/null
mkdir -p build/fuzz/artifacts
for target in splitter expander config_block resources signature; do
  work=build/fuzz/corpus/$target
  mkdir -p "$work"
  echo "fuzz_$target: $seconds s"
  log=build/fuzz/$target.log
  if ! build/fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -max_len=10000 -rss_limit_mb=2048 \
      -artifact_prefix=build/fuzz/artifacts/$target- -print_final_stats=1 \
      "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 60 "$log"
    exit 1
  fi
  grep -E '^stat::number_of_executed_units' "$log" || true
done
