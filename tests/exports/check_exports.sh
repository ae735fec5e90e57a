#!/usr/bin/env bash
# Compares the dynamic symbols that a shared library defines with the expected list.
set -euo pipefail
lib=$1 expected=$2
actual=$(nm -D --defined-only "$lib" | awk '{print $3}' | grep -v '^$' | sed 's/@.*//' | sort -u)
want=$(grep -v '^#' "$expected" | grep -v '^$' | sort -u)
if [ "$actual" != "$want" ]; then
  echo "exported symbols differ from $expected (< expected, > actual):"
  diff <(echo "$want") <(echo "$actual") || true
  exit 1
fi
echo "exports ok: $(echo "$actual" | wc -l) symbols"
