#!/usr/bin/env bash
# Two orvo-talk instances talking RTP to each other on loopback, once per codec (all pairs at the
# same time): A says a 2-second speech-like signal to B in the codec, B answers in the same codec;
# each side must play what the other said, as the codec's own round trip (orvo-voice roundtrip)
# gives it: normalised correlation of at least 0.95. The session description A writes must name the codec.
#   rtp_loopback_test.sh ORVO_TALK ORVO_VOICE WORK_DIR
set -euo pipefail
talk=$1 voice=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
# Both start with silence (A 0.5 s, B 1.5 s, as B starts first): what goes out before the other
# side listens is lost, and a decoder with memory (G.726, DVI4) that joins during silence is in
# step with the encoder by the time the speech starts. B runs until A is done (then Ctrl-C).
"$voice" generate "$work/a-speech.wav" --seconds 2 >/dev/null
"$voice" generate "$work/b-speech.wav" --seconds 2 >/dev/null
python3 - "$work" <<'PY'
import sys, wave
for side in "ab":
    with wave.open("%s/%s-speech.wav" % (sys.argv[1], side)) as r:
        frames = r.readframes(r.getnframes())
    with wave.open("%s/%s.wav" % (sys.argv[1], side), "wb") as w:
        w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
        w.writeframes(b"\0" * 2 * (4000 if side == "a" else 12000) + frames)
PY
free_udp_ports() { # count: distinct free ports, bound together so none repeats
  python3 -c 'import socket, sys
s = [socket.socket(socket.AF_INET, socket.SOCK_DGRAM) for _ in range(int(sys.argv[1]))]
for x in s: x.bind(("127.0.0.1", 0))
print(" ".join(str(x.getsockname()[1]) for x in s))' "$1"
}

codecs=(pcmu pcma dvi4 g726-16 g726-24 g726-32 g726-40 aal2-g726-16 aal2-g726-32 aal2-g726-40)
read -r -a ports <<<"$(free_udp_ports $((2 * ${#codecs[@]})))"
pids=() b_pids=()
trap 'kill "${b_pids[@]}" 2>/dev/null || true' EXIT
for i in "${!codecs[@]}"; do
  c=${codecs[$i]} pa=${ports[$((2 * i))]} pb=${ports[$((2 * i + 1))]}
  "$talk" --rtp --listen "$pb" --peer "127.0.0.1:$pa" --codec "$c" --capture "wav:$work/b.wav" \
    --playback "wav:$work/$c-b-hears.wav" --quiet >"$work/$c-b.log" 2>&1 &
  b_pids+=($!)
done
# Every B listens before its A talks (up to 10 s each).
for i in "${!codecs[@]}"; do
  hex=$(printf ':%04X ' "${ports[$((2 * i + 1))]}")
  for _ in $(seq 100); do
    grep -qi "$hex" /proc/net/udp /proc/net/udp6 2>/dev/null && break
    sleep 0.1
  done
done
for i in "${!codecs[@]}"; do
  c=${codecs[$i]} pa=${ports[$((2 * i))]} pb=${ports[$((2 * i + 1))]}
  "$talk" --rtp --listen "$pa" --peer "127.0.0.1:$pb" --codec "$c" --sdp "$work/$c.sdp" \
    --capture "wav:$work/a.wav" --playback "wav:$work/$c-a-hears.wav" --seconds 4 --quiet \
    >"$work/$c-a.log" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
sleep 0.5 # the last of A's packets played
kill -INT "${b_pids[@]}"
for pid in "${b_pids[@]}"; do wait "$pid" || status=1; done
trap - EXIT
[ $status -eq 0 ] || { tail -n 2 "$work"/*.log; exit 1; }

# orvo-voice's name of each codec.
declare -A voice_type=([pcmu]=g711u [pcma]=g711a [dvi4]=dvi4 [g726-16]=g726-16 [g726-24]=g726-24
  [g726-32]=g726-32 [g726-40]=g726-40 [aal2-g726-16]=g726-16-msb [aal2-g726-32]=g726-32-msb
  [aal2-g726-40]=g726-40-msb)
for c in "${codecs[@]}"; do
  name=$(echo "$c" | tr a-z A-Z)
  "$voice" roundtrip --type "${voice_type[$c]}" "$work/a.wav" "$work/$c-a-coded.wav" >/dev/null
  "$voice" roundtrip --type "${voice_type[$c]}" "$work/b.wav" "$work/$c-b-coded.wav" >/dev/null
  grep -q "a=rtpmap:[0-9]* $name/8000" "$work/$c.sdp" || { echo "$c: SDP without $name"; cat "$work/$c.sdp"; exit 1; }
  ab=$("$talk" compare "$work/$c-a-coded.wav" "$work/$c-b-hears.wav" --min-correlation 0.95 | tail -1) ||
    { echo "$c A->B: $ab"; tail -1 "$work/$c-b.log"; exit 1; }
  ba=$("$talk" compare "$work/$c-b-coded.wav" "$work/$c-a-hears.wav" --min-correlation 0.95 | tail -1) ||
    { echo "$c B->A: $ba"; tail -1 "$work/$c-a.log"; exit 1; }
  echo "$c: A->B ${ab%%;*}, B->A ${ba%%;*}"
done
echo "rtp loopback test passed"
