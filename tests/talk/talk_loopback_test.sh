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

# Waits (up to 10 s) until a UDP port is bound on this machine, so nothing sent to it is lost.
wait_for_udp_port() {
  local hex tries
  hex=$(printf ':%04X ' "$1")
  for tries in $(seq 100); do
    grep -qi "$hex" /proc/net/udp /proc/net/udp6 2>/dev/null && return 0
    sleep 0.1
  done
  echo "nothing listens on udp/$1" >&2
  return 1
}

# Two ports from the process id, away from the usual ephemeral range.
base=$((20000 + ($$ % 5000) * 2))
port_a=$base port_b=$((base + 1))

"$talk" --listen "$port_b" --peer "127.0.0.1:$port_a" --capture "wav:$work/b.wav" \
  --playback "wav:$work/received_by_b.wav" --seconds 5 --quiet >"$work/b.log" 2>&1 &
b_pid=$!
trap 'kill "$b_pid" 2>/dev/null || true' EXIT
wait_for_udp_port "$port_b" # B listens before A sends
"$talk" --listen "$port_a" --peer "127.0.0.1:$port_b" --capture "wav:$work/a.wav" \
  --playback "wav:$work/received_by_a.wav" --seconds 4.5 --quiet >"$work/a.log" 2>&1
wait "$b_pid"
trap - EXIT
echo "A: $(cat "$work/a.log")"
echo "B: $(cat "$work/b.log")"

"$talk" compare "$work/a.wav" "$work/received_by_b.wav" --min-correlation 0.95
# B's first packets went out before A listened: only check that A played something of it.
"$talk" compare "$work/b.wav" "$work/received_by_a.wav" --min-correlation 0.5

# Ctrl-C ends a link that would run for ever, cleanly and with its closing status line.
"$talk" --listen "$port_a" --capture "wav:$work/b.wav" --playback "wav:$work/interrupted.wav" \
  --quiet >"$work/interrupted.log" 2>&1 &
pid=$!
sleep 0.5
kill -INT "$pid"
wait "$pid"
grep -q '^end ' "$work/interrupted.log"
"$talk" compare "$work/b.wav" "$work/interrupted.wav" >/dev/null # a valid (if short) WAV

# Datagrams from anyone but the peer are counted and dropped, never handed to the library; with
# --accept-any they are taken (and refused there as junk).
junk_run() { # log, extra options...
  local log=$1; shift
  "$talk" --listen "$port_b" --peer "127.0.0.1:$port_a" --capture "wav:$work/b.wav" \
    --playback "wav:$work/junk.wav" --seconds 1.5 --quiet "$@" >"$log" 2>&1 &
  local pid=$!
  wait_for_udp_port "$port_b"
  for i in $(seq 20); do echo "junk $i" >"/dev/udp/127.0.0.1/$port_b"; done
  wait "$pid"
}
junk_run "$work/junk.log"
grep -q 'received 0  rejected 0 .*(datagrams in 0, other senders 20,' "$work/junk.log" || { cat "$work/junk.log"; exit 1; }
junk_run "$work/junk-any.log" --accept-any
grep -q 'played 0 .*(datagrams in 20, other senders 0,' "$work/junk-any.log" || { cat "$work/junk-any.log"; exit 1; }

# Refusals: bad options end with status 2, unreadable files with 1; help requests with 0.
expect_status() { # status, command...
  local want=$1 got=0
  shift
  "$@" >/dev/null 2>&1 || got=$?
  if [ "$got" -ne "$want" ]; then
    echo "expected status $want, got $got: $*"
    exit 1
  fi
}
expect_status 2 "$talk" --peer no-port
expect_status 2 "$talk" --peer 127.0.0.1:0
expect_status 2 "$talk" --listen 70000
expect_status 2 "$talk" --seconds -1
expect_status 2 "$talk" unexpected-word
expect_status 0 "$talk"
expect_status 0 "$talk" -h
expect_status 0 "$talk" help
expect_status 0 "$talk" --help
expect_status 2 "$talk" --codec pcma
expect_status 2 "$talk" --rtp --codec opus --peer 127.0.0.1:9
expect_status 2 "$talk" --rtp --pt 128 --peer 127.0.0.1:9
expect_status 2 "$talk" --rtsp rtsp://127.0.0.1/x --rtsp-transport sctp
expect_status 2 "$talk" --rtsp rtsp://127.0.0.1/x --peer 127.0.0.1:9
expect_status 2 "$talk" --rtsp rtsp://127.0.0.1/x --rtp
# An unusable capture device is one line and status 1, not a link that sends nothing.
printf 'RIFF' >"$work/broken.wav"
expect_status 1 "$talk" --capture "wav:$work/missing.wav" --seconds 1
expect_status 1 "$talk" --capture "wav:$work/broken.wav" --seconds 1
[ "$("$talk" --capture "wav:$work/missing.wav" --seconds 1 2>&1 | wc -l)" -eq 1 ]
# A default capture device that does not open (ALSA without any configuration): status 1 after
# the capture thread's first retry, not a link that sends nothing.
ALSA_CONFIG_PATH=/dev/null expect_status 1 "$talk" --playback "wav:$work/no-capture.wav" --seconds 5
expect_status 1 "$talk" --playback "wav:$work/no-such-dir/out.wav" --seconds 1
expect_status 1 "$talk" compare "$work/missing.wav" "$work/a.wav"
expect_status 2 "$talk" compare "$work/a.wav" "$work/a.wav" --min-correlation 2
expect_status 3 "$talk" compare "$work/a.wav" "$work/interrupted.wav" --min-correlation 0.99
echo "loopback test passed"
