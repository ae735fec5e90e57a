#!/usr/bin/env bash
# The Windows tools under wine: orvo-voice generates a signal and takes it through encode, info,
# decode and roundtrip for one type of each codec family (the decoded file must equal the round
# trip's), writes through to the NUL device and refuses an output that is its input; orvo-capture
# captures a WAV file through OrvoAudio.dll's talk service. With a native orvo-voice given, every
# file must equal the native tool's byte for byte.
#   orvo_tools_wine_test.sh EMULATOR BIN-DIR WORK-DIR [NATIVE-ORVO-VOICE]
set -euo pipefail
emulator=$1 bin=$(cd "$2" && pwd) work=$3 native=${4:-}
rm -rf "$work"
mkdir -p "$work"
cd "$work"
run() { timeout 60 "$emulator" "$bin/$1.exe" "${@:2}" </dev/null; }
fail() { echo "FAIL: $*" >&2; exit 1; }
same() { cmp -s "$1" "$2" || fail "$1 and $2 differ"; }

run orvo-voice generate in.wav --seconds 1 >/dev/null
[ -z "$native" ] || { "$native" generate native.wav --seconds 1 >/dev/null; same in.wav native.wav; }
for type in g711a ima g726-24 g726-40-msb; do
  run orvo-voice encode --type "$type" in.wav "$type.ovf" >/dev/null
  run orvo-voice info "$type.ovf" | grep -q "frames:      50" || fail "info $type.ovf"
  run orvo-voice decode "$type.ovf" "$type-decoded.wav" >/dev/null
  run orvo-voice roundtrip --type "$type" in.wav "$type-roundtrip.wav" | grep -q "SNR" || fail "roundtrip $type"
  same "$type-decoded.wav" "$type-roundtrip.wav"
  if [ -n "$native" ]; then
    "$native" encode --type "$type" in.wav "native-$type.ovf" >/dev/null
    same "$type.ovf" "native-$type.ovf"
  fi
done
run orvo-voice decode g711a.ovf NUL | grep -q "decoded 50 g711a frames" || fail "decode to NUL"
status=0
run orvo-voice encode --type g711u in.wav in.wav 2>err.txt || status=$?
[ "$status" -eq 1 ] && grep -q "is the input file" err.txt || fail "same-file output: exit $status"

# The signal read in real time as the capture device: packets arrive and decode.
run orvo-capture --device wav:in.wav --seconds 1.5 captured.wav >capture.txt
grep -Eq "^[1-9][0-9]* packets .* 0 did not decode; wrote captured.wav" capture.txt || fail "$(cat capture.txt)"
[ -s captured.wav ] || fail "no captured.wav"
echo "orvo-voice and orvo-capture under $emulator: all checks passed"
