#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build for a fixed time from its seed corpus
# (fuzz/corpus/<target>/), after replaying its kept regression inputs
# (fuzz/regressions/<target>/). New corpus units go to a scratch folder, never
# into the repository. Any finding fails the run; its input is left in
# build/fuzz/findings/<target>/ to be kept as a regression input.
#   scripts/run-fuzz.sh [seconds-per-target] [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
build=${2:-build/fuzz}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
status=0
shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
if ((${#targets[@]} == 0)); then
  echo "run-fuzz: no fuzz targets in $build/fuzz" >&2
  exit 1
fi
for bin in "${targets[@]}"; do
  [[ -x "$bin" && -f "$bin" ]] || continue
  name=$(basename "$bin")
  findings="$build/findings/$name"
  mkdir -p "$findings" "$scratch/$name"
  regressions=(fuzz/regressions/"$name"/*)
  if ((${#regressions[@]})); then
    "$bin" -runs=1 "${regressions[@]}" >"$scratch/$name.regress.log" 2>&1 || {
      echo "run-fuzz: $name fails on a kept regression input" >&2
      tail -n 30 "$scratch/$name.regress.log" >&2
      status=1
      continue
    }
  fi
  seeds=()
  [[ -d fuzz/corpus/$name ]] && seeds=(fuzz/corpus/"$name")
  if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       -artifact_prefix="$findings/" "$scratch/$name" "${seeds[@]}" >"$scratch/$name.log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$scratch/$name.log" | grep -o '[0-9]*$' || echo "?")
    echo "run-fuzz: $name clean, $runs runs in ${seconds}s"
  else
    echo "run-fuzz: $name FOUND A PROBLEM (input kept in $findings)" >&2
    tail -n 40 "$scratch/$name.log" >&2
    status=1
  fi
done
exit $status
