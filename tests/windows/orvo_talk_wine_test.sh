#!/usr/bin/env bash
# Two Windows orvo-talk instances under wine on loopback, with WAV file devices: A sends a
# 3-second signal to B, B talks back; what B played must match what A sent (normalised
# cross-correlation above 0.95), and A must have played some of B's.
#   orvo_talk_wine_test.sh EMULATOR BIN-DIR WORK-DIR
set -euo pipefail
emulator=$1 bin=$(cd "$2" && pwd) work=$3
rm -rf "$work"
mkdir -p "$work"
cd "$work"
run() { timeout 60 "$emulator" "$bin/$1.exe" "${@:2}" </dev/null; }
fail() { echo "FAIL: $*" >&2; exit 1; }

run orvo-voice generate a.wav --seconds 3 >/dev/null
run orvo-voice generate b.wav --seconds 1 >/dev/null

# Waits (up to 30 s: a wine program takes a few seconds to start) until a UDP port is bound.
wait_for_udp_port() {
  local hex tries
  hex=$(printf ':%04X ' "$1")
  for tries in $(seq 300); do
    grep -qi "$hex" /proc/net/udp /proc/net/udp6 2>/dev/null && return 0
    sleep 0.1
  done
  fail "nothing listens on udp/$1"
}

# Two ports from the process id, away from the usual ephemeral range and the native test's.
base=$((30000 + ($$ % 5000) * 2))
port_a=$base port_b=$((base + 1))

run orvo-talk --listen "$port_b" --peer "127.0.0.1:$port_a" --capture wav:b.wav \
  --playback wav:received_by_b.wav --seconds 6 --quiet >b.log 2>&1 &
b_pid=$!
trap 'kill "$b_pid" 2>/dev/null || true' EXIT
wait_for_udp_port "$port_b"
run orvo-talk --listen "$port_a" --peer "127.0.0.1:$port_b" --capture wav:a.wav \
  --playback wav:received_by_a.wav --seconds 4.5 --quiet >a.log 2>&1 || fail "A: $(cat a.log)"
wait "$b_pid" || fail "B: $(cat b.log)"
trap - EXIT
echo "A: $(cat a.log)"
echo "B: $(cat b.log)"

run orvo-talk compare a.wav received_by_b.wav --min-correlation 0.95 || fail "B did not play what A sent"
run orvo-talk compare b.wav received_by_a.wav --min-correlation 0.5 || fail "A did not play what B sent"
echo "orvo-talk under $emulator: both directions passed"
