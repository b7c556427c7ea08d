#!/bin/bash
# Every fuzz seed through wlxhost under Wine, in two boxes: the host must
# end with 0 (thumbnails) or 1 (some file gave none), never with a fault.
#   hostile.sh WINE_RUN WLXHOST MODULE SEED_DIR OUT_DIR
set -u
wine_run=$1 wlxhost=$2 module=$3 seeds=$4 out=$5
. "$(dirname "$0")/winpath.sh"
"$wine_run" --probe || exit $?  # 77: this machine cannot run the module
mapfile -t files < <(find "$seeds" -type f | sort)
[ "${#files[@]}" -gt 0 ] || { echo "hostile: no seeds in $seeds"; exit 1; }
args=()
for f in "${files[@]}"; do args+=("$(winpath "$f")"); done
rm -rf "$out"
mkdir -p "$out"
status=0
for box in 64x64 300x200; do
  "$wine_run" "$wlxhost" "$(winpath "$module")" "${args[@]}" -s "$box" -d "$(winpath "$out/$box")" 2>"$out/$box.err"
  rc=$?
  made=$(ls "$out/$box" 2>/dev/null | wc -l)
  echo "box $box: ${#files[@]} seeds, $made thumbnails, exit $rc"
  if [ $rc -gt 1 ]; then cat "$out/$box.err"; status=1; fi
done
exit $status
