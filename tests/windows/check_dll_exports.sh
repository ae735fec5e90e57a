#!/usr/bin/env bash
# Compares the names in a DLL's export table with the names of its module definition file.
set -euo pipefail
objdump=$1 dll=$2 def=$3
actual=$("$objdump" -p "$dll" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
  sed -n 's/^[[:space:]]*\[ *[0-9]*\][[:space:]]*//p' | sort -u)
want=$(sed -n '/^EXPORTS/,$p' "$def" | tail -n +2 | awk '{print $1}' | grep -v '^$' | sort -u)
if [ "$actual" != "$want" ]; then
  echo "exports of $dll differ from $def (< expected, > actual):"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
echo "exports ok: $(echo "$actual" | wc -l) names"
