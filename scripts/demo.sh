#!/usr/bin/env bash
# Renders every sample into OUTDIR and prints a table: file, where the
# thumbnail came from (the preview's owner node, or "plain image"), its size
# and the milliseconds the module took for the request.
set -euo pipefail
build=${1:-build/linux}
samples=${2:-samples}
out=${3:-out}
cli="$build/zanpictors"
mkdir -p "$out"

printf '%-18s %-62s %-10s %9s\n' file source thumbnail ms
for f in "$samples"/*; do
  [ -f "$f" ] || continue
  case "$f" in *.md|*.cpp) continue ;; esac
  name=$(basename "$f")
  source=$("$cli" list "$f" --json | sed -n 's/.*"owner": "\([^"]*\)".*"chosen": true.*/\1/p' | head -n1)
  [ -n "$source" ] || source="plain image"
  if line=$("$cli" thumb "$f" -v -o "$out/$name.png" 2>/dev/null); then
    size=$(cut -f2 <<<"$line")
    ms=$(cut -f3 <<<"$line")
    printf '%-18s %-62s %-10s %9s\n' "$name" "$source" "$size" "$ms"
  else
    printf '%-18s %-62s %-10s %9s\n' "$name" "$source" "none" "-"
  fi
done
