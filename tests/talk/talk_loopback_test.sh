#!/usr/bin/env bash
# Two orvo-talk instances on loopback with WAV file devices: A captures a 3-second speech-like
# signal and sends it to B, which plays it into a WAV; the received audio must match the sent one
# (normalised cross-correlation above 0.95 after the mu-law round trip, merged repeats and frame
# alignment). B also talks back to A, so both directions run.
#   talk_loopback_test.sh ORVO_TALK ORVO_VOICE WORK_DIR
set -euo pipefail
talk=$1 voice=$2 work=$3
rm -rf "$work"
mkdir -p "$work"

"$voice" generate "$work/a.wav" --seconds 3 >/dev/null
"$voice" generate "$work/b.wav" --seconds 1 >/dev/null

# Two ports from the process id, away from the usual ephemeral range.
base=$((20000 + ($$ % 5000) * 2))
port_a=$base port_b=$((base + 1))

"$talk" --listen "$port_b" --peer "127.0.0.1:$port_a" --capture "wav:$work/b.wav" \
  --playback "wav:$work/received_by_b.wav" --seconds 5 --quiet >"$work/b.log" 2>&1 &
b_pid=$!
trap 'kill "$b_pid" 2>/dev/null || true' EXIT
sleep 0.3 # B listens before A sends
"$talk" --listen "$port_a" --peer "127.0.0.1:$port_b" --capture "wav:$work/a.wav" \
  --playback "wav:$work/received_by_a.wav" --seconds 4.5 --quiet >"$work/a.log" 2>&1
wait "$b_pid"
trap - EXIT
echo "A: $(cat "$work/a.log")"
echo "B: $(cat "$work/b.log")"

"$talk" compare "$work/a.wav" "$work/received_by_b.wav" --min-correlation 0.95
# B's first packets went out before A listened: only check that A played something of it.
"$talk" compare "$work/b.wav" "$work/received_by_a.wav" --min-correlation 0.5
