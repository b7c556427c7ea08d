#!/bin/bash
# Parity over the corpus of real files from cameras and programs: each file
# is copied under a name that keeps its folder (folder-name.ext), then the
# same comparison as for the samples runs over them.
#   corpus.sh CORPUS_DIR OUT_DIR PARITY_ARGS...   (parity.sh's arguments up to INPUT_DIR)
set -u
corpus=$1 out=$2
shift 2
rm -rf "$out/files"
mkdir -p "$out/files"
find "$corpus" -mindepth 2 -type f | sort | while read -r f; do
  rel=${f#"$corpus"/}
  cp "$f" "$out/files/${rel//\//-}"
done
exec "$(dirname "$0")/parity.sh" "$@" "$out/files" "$out/parity"
