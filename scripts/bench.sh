#!/usr/bin/env bash
# Builds the native preset (RelWithDebInfo) when needed, then runs every
# benchmark of tcpflash on loopback and prints one report: streaming
# throughput of the tool and of the loopback limit against a count-only sink,
# frame-building costs, peak memory and the time of a whole run. The figures
# are informational (PASS/MISS against their goals); the exit status is
# non-zero only when something failed to build or to run.
#
#   scripts/bench.sh           the full report (about two minutes)
#   scripts/bench.sh --quick   smaller images and fewer repeats, as a smoke run
#
# Needs the native build's packages and libbenchmark-dev (PKGS_NATIVE and
# PKGS_BENCH in scripts/packages.sh); as root it installs what is missing.
set -euo pipefail

cd "$(dirname "${BASH_SOURCE[0]}")/.."
BUILD=$PWD/build/native

# shellcheck source=scripts/packages.sh
. scripts/packages.sh
ensure_packages "${PKGS_NATIVE[@]}" "${PKGS_BENCH[@]}"

if [[ ! -f $BUILD/build.ninja ]]; then
  cmake --preset native >/dev/null
fi
cmake --build --preset native --target tcpflash tcpflash-sim tcpflash_limit_client \
  tcpflash_count_sink tcpflash_frame_bench >/dev/null

echo "tcpflash benchmarks, $(git rev-parse --short HEAD 2>/dev/null || echo 'no git')" \
  "on $(nproc) CPUs, $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)," \
  "$(awk '/^MemTotal/ {printf "%.1f GiB RAM", $2 / 1048576}' /proc/meminfo)"
exec timeout 900 python3 bench/run_bench.py "$BUILD" "$@"
