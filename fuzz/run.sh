#!/usr/bin/env bash
# Builds the fuzz harnesses with clang and libFuzzer in build/fuzz and runs
# each for the given number of seconds (default 30) on a copy of its seed
# corpus. New inputs go to a temporary directory, never into the repository;
# crash inputs land in build/fuzz/crashes/<harness>/. Exits non-zero when any
# harness fails.
set -u
seconds="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build/fuzz"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTCPFLASH_FUZZ=ON -DTCPFLASH_TESTS=OFF >/dev/null || exit 2
cmake --build "$build" --target tcpflash_fuzz_harnesses || exit 2
# The harness list is fuzz/CMakeLists.txt's, written into the build tree.
mapfile -t harnesses <"$build/fuzz/harnesses.txt"
[ ${#harnesses[@]} -gt 0 ] || { echo "no harnesses listed in $build/fuzz/harnesses.txt" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
status=0
for harness in "${harnesses[@]}"; do
  corpus="$work/$harness"
  crashes="$build/crashes/$harness"
  mkdir -p "$corpus" "$crashes"
  cp "$root/fuzz/corpus/$harness/"* "$corpus/"
  echo "== $harness: ${seconds}s"
  if "$build/fuzz/$harness" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$crashes/" "$corpus" >"$work/$harness.log" 2>&1; then
    grep -E "^stat::(number_of_executed_units|new_units_added)" "$work/$harness.log"
  else
    status=1
    echo "!! $harness failed; inputs in $crashes"
    tail -n 40 "$work/$harness.log"
  fi
done
exit "$status"
