#!/usr/bin/env bash
# The main job, rehearsed without a board: builds tcpflash and the device
# simulator, starts the simulator on a free loopback port playing a board with
# a real board's timing (a link of about 2 MB/s, a 2 s erase pause, flash
# programming of 250 ms per MiB), runs a whole update of a 16 MiB image from
# application mode with its console output (and, on a terminal, its progress
# line) live, and checks that the image arrived intact.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
ROOT=$PWD

# shellcheck source=scripts/packages.sh
. scripts/packages.sh
echo "========== set-up =========="
ensure_packages "${PKGS_NATIVE[@]}"

echo "========== build =========="
cmake --preset native >/dev/null
cmake --build --preset native --target tcpflash tcpflash-sim

work=$(mktemp -d)
sim_pid=
cleanup() {
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A 16 MiB image that is not a whole number of 750-byte blocks: larger than
# the socket buffers on loopback, which take the first few MiB at once.
head -c $((16 * 1024 * 1024 + 17)) /dev/urandom >"$work/image.uncompressed"

echo "========== simulator =========="
"$ROOT/build/native/sim/tcpflash-sim" --port 0 --once --mode 1 --timeout 120 \
  --link-kbps 2000 --erase-ms 2000 --flash-ms-per-mb 250 \
  --quiet --image-out "$work/received.bin" >"$work/sim.out" 2>"$work/sim.log" &
sim_pid=$!
port=
for _ in $(seq 1 100); do
  port=$(sed -n 's/^port \([0-9]*\)$/\1/p' "$work/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "the simulator did not start"; cat "$work/sim.log"; exit 1; }
echo "tcpflash-sim listens on 127.0.0.1 port $port, playing a board in application mode"
echo "(link about 2 MB/s, 2 s erase pause, flash programming 250 ms per MiB)"

echo "========== update =========="
status=0
(cd "$work" && "$ROOT/build/native/tcpflash" 127.0.0.1 "$port") || status=$?
wait "$sim_pid" || true
sim_pid=

echo
echo "========== result =========="
echo "simulator log:"
sed 's/^/  /' "$work/sim.log"
if [ "$status" -ne 0 ]; then
  echo "tcpflash ended with exit status $status"
  exit 1
fi
if cmp -s "$work/image.uncompressed" "$work/received.bin"; then
  echo "OK: all $(stat -c %s "$work/image.uncompressed") image bytes arrived intact, exit status 0"
else
  echo "FAILED: the image the simulator received differs from the file"
  exit 1
fi
