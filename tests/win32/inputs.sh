#!/bin/bash
# The shared inputs of the Windows tests: the project's samples (written by
# the Linux build's sample generator, plus any other file in samples/) and
# the extra kinds that zan_make_inputs writes (metafiles, more BMP and PNG
# layouts).
#   inputs.sh WINE_RUN MAKE_INPUTS LINUX_BUILD_DIR SAMPLES_DIR OUT_DIR
set -eu
wine_run=$1 make_inputs=$2 linux_build=$3 samples=$4 out=$5
. "$(dirname "$0")/winpath.sh"
rm -rf "$out"
mkdir -p "$out"
if [ ! -x "$linux_build/zan_make_samples" ]; then
  echo "inputs: $linux_build/zan_make_samples is missing (cmake --build --preset linux)" >&2
  exit 1
fi
"$linux_build/zan_make_samples" "$out" >/dev/null
for f in "$samples"/*; do
  case "$f" in *.cpp|*.md|*.txt) continue ;; esac
  [ -f "$f" ] && [ ! -e "$out/$(basename "$f")" ] && cp "$f" "$out/"
done
"$wine_run" "$make_inputs" "$(winpath "$out")"
ls "$out"
